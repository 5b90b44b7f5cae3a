#pragma once

// What the X server itself says about windows (kept apart: Xlib's macros clash with the test
// framework's names).

#include <QRect>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ravlin::xserver {

bool open();
void close();
// The window's frame in root coordinates.
QRect geometry(unsigned long window);
unsigned long inputFocus();
void setInputFocus(unsigned long window);
// A mapped window of another X client (this connection's), 200 x 100 at (900, 700).
unsigned long createForeignWindow();
void destroyWindow(unsigned long window);

// Stands in for a desktop service: a window of this connection owns the selection `name`
// (e.g. "_NET_WM_CM_S0"), with `property` set on it to `bytes` (format 8, its own type) when
// given; released by releaseSelection().
void ownSelection(const char* name, const char* property = nullptr,
                  const std::vector<std::uint8_t>& bytes = {});
void releaseSelection(const char* name);
// The names of the atoms in a window's ATOM-typed property; a CARDINAL property's first value
// (32 bits; none when the window has no such property).
std::vector<std::string> atomNames(unsigned long window, const char* property);
std::optional<std::uint32_t> cardinal(unsigned long window, const char* property);

}  // namespace ravlin::xserver
