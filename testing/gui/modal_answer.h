// Answers a real modal dialog or popup menu of a test: runs `act` on it once
// it is the active popup or modal widget (polled for at most `timeout_ms`),
// while the code under test sits in its exec().
#pragma once

#include <functional>

class QWidget;

namespace sorvel::testing {

void WhenModalShown(std::function<void(QWidget*)> act, int timeout_ms = 5000);

}  // namespace sorvel::testing
