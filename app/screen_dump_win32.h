// The "&Screen dump" command: the main window captured from the screen and written as a BMP file.
#pragma once

// Refreshes the header strip, copies the window's screen rectangle (frame,
// caption and menu included, and whatever covers them) into a bitmap and
// hands it to the BMP writer, which asks for the file and reports failures.
void screenDumpCommand();
