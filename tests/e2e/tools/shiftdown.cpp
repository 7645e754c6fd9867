// Holds the Shift key down for as long as it runs (the harness kills it).
// SendInput is the dependable way under Wine: a key pressed from outside is
// seen only when a Wine window has the focus.
#include "common.h"

int wmain() {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_SHIFT;
    if (SendInput(1, &input, sizeof(input)) != 1) {
        Line("error " + std::to_string(GetLastError()));
        return 1;
    }
    Line("shift down");
    for (;;) Sleep(60000);
}
