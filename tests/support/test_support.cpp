// Anchors the shared test-support library so it exists before any fixture is added.
namespace ravlin::testing {
int testSupportAnchor() {
    return 0;
}
}  // namespace ravlin::testing
