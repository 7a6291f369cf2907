// k614ctl's exit codes: one per outcome that a script calling it may want to tell apart.
#pragma once

inline constexpr int EXIT_DONE = 0;        // done; the sets are equal
inline constexpr int EXIT_DIFFER = 1;      // diff: the files differ; write: the device reports other values
inline constexpr int EXIT_USAGE = 2;       // bad command line
inline constexpr int EXIT_NO_ANSWER = 3;   // the device did not answer an upload request in time
inline constexpr int EXIT_PORT_ERROR = 4;  // the port cannot be opened
// A file is missing, not a regular file, not a parameter file, holds a value
// outside its field's codes (write), or cannot be written.
inline constexpr int EXIT_FILE_ERROR = 5;
inline constexpr int EXIT_LINE_LOST = 6;   // the line failed (cable pulled, adapter gone)
inline constexpr int EXIT_BROKER_REFUSED = 7; // publish: the broker refused the credentials, or TLS failed
inline constexpr int EXIT_NOT_PUBLISHED = 8;  // publish: something taken from the line never reached the broker
