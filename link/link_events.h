// The two events the link raises across threads, behind a small platform layer.
//
// The program uses Win32 events; the native tests use a standard-library
// equivalent. Signalling the upload confirmation releases every parameter
// store made before it to the thread whose wait then returns (acquire).
#pragma once

// Created once at start-up; false when the event could not be created.
bool createUploadConfirmEvent();
void destroyUploadConfirmEvent();
// Reader thread, on the device's first upload code.
void signalUploadConfirm();
void resetUploadConfirm();
// True when the event was signalled within the time-out.
bool waitUploadConfirm(unsigned timeoutMs);

// GUI thread, after bytes were put into the byte ring: wakes the writer.
void signalTxReady();
