#include "app/shell/coordinator.h"

#include "app/composer/composer_service.h"
#include "app/composer/provider_routing.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/correction_scheduler.h"
#include "app/editor/panel_composition.h"
#include "app/editor/view_composition.h"
#include "app/shell/triggers/double_tap_trigger.h"
#include "app/shell/triggers/quick_fix_double_tap_trigger.h"
#include "core/engine/correction_engine.h"

namespace ravlin {
namespace {

std::weak_ptr<QNCoordinatorApp>& sharedInstance() {
    static std::weak_ptr<QNCoordinatorApp> instance;
    return instance;
}

}  // namespace

std::shared_ptr<QNCoordinatorApp> QNCoordinatorApp::create(QNCoordinatorEnvironment env) {
    std::shared_ptr<QNCoordinatorApp> coordinator(new QNCoordinatorApp(std::move(env)));
    coordinator->construct();
    return coordinator;
}

QNCoordinatorApp::QNCoordinatorApp(QNCoordinatorEnvironment env) : env_(std::move(env)) {}

QNCoordinatorApp::~QNCoordinatorApp() = default;

std::shared_ptr<QNCoordinatorApp> QNCoordinatorApp::shared() { return sharedInstance().lock(); }

void QNCoordinatorApp::setShared(const std::shared_ptr<QNCoordinatorApp>& coordinator) {
    sharedInstance() = coordinator;
}

void QNCoordinatorApp::construct() {}

void QNCoordinatorApp::start() {}

AppContext QNCoordinatorApp::context() const {
    return AppContext{.seams = env_.seams,
                      .executor = env_.executor,
                      .workRunner = env_.workRunner,
                      .clock = env_.clock,
                      .preferences = stores,
                      .logger = logger};
}

}  // namespace ravlin
