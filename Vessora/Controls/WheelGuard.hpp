// A pop-up that merely lies under the pointer must not change with the
// wheel: scrolling a form would otherwise pick versions and access levels
// on the way. guard() lets the wheel reach the control only while it has
// the keyboard focus, which the user gives by clicking or opening it or by
// moving there with Tab; otherwise the wheel goes on to the scrolled form.
#pragma once

class QWidget;

namespace vessora::WheelGuard {

// Also keeps the wheel from giving the control the focus.
void guard(QWidget* control);

} // namespace vessora::WheelGuard
