// What a person expects of the keyboard on a window's buttons: an access key
// (Alt and the underlined letter) first gives its button the focus, so that
// the button's focus handler runs, and then presses it; Enter or the keypad's
// Enter presses the focused push button.
#pragma once

class QWidget;

namespace folvane {

// Gives every button `window` holds now these keys. Owned by the window.
void InstallButtonKeys(QWidget* window);

}  // namespace folvane
