// Answers a real modal dialog of a test: runs `act` on the dialog once it is
// the active modal widget (polled for at most `timeout_ms`), while the code
// under test sits in the dialog's exec().
#pragma once

#include <functional>

class QWidget;

namespace sorvel::testing {

void WhenModalShown(std::function<void(QWidget*)> act, int timeout_ms = 5000);

}  // namespace sorvel::testing
