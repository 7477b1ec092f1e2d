// The program's icon, the one its desktop entry installs, built into the
// program at the sizes windows show it.
#pragma once

#include <QIcon>

namespace sorvel {

QIcon ProgramIcon();

// Makes it the icon of every window of the application.
void SetProgramIcon();

}  // namespace sorvel
