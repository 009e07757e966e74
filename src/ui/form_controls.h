#pragma once

// The login form's controls: the edits, the buttons, the remember box, the status line and the
// download's progress bar. Window thread only.
#include "ui/launcher_window.h"

namespace launcher {

// On WM_CREATE, after the skin: creates the controls, empty, in the state the session starts in.
void createControls(LauncherWindow& state);

// Shows or hides the password in clear text, keeping its selection.
void setPasswordVisible(LauncherWindow& state, bool visible, bool giveFocus);

} // namespace launcher
