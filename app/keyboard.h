// Keyboard commands of the main window: Space to the device, Pause freezes the trend.
#pragma once

inline constexpr int KEY_SPACE = 32; // VK_SPACE
inline constexpr int KEY_PAUSE = 19; // VK_PAUSE

// WM_KEYDOWN. A held key repeats its WM_KEYDOWN; only the first one after a
// WM_KEYUP acts, so holding Space sends one code and holding Pause toggles once.
void keyDown(int virtualKey);
// WM_KEYUP, any key.
void keyUp();
