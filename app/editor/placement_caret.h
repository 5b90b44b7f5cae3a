#pragma once

namespace ravlin {

// Where the caret goes when the program writes the Composer's whole text: after its last unit
// (`end`), or before its trailing line breaks (`visibleEnd`).
enum class QNPlacementCaret { end, visibleEnd };

}  // namespace ravlin
