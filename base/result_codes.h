// Private result codes of the file and dialog operations (0 is success).
#pragma once

inline constexpr long ERR_NOT_PARAMETER_FILE = 30001; // "Not a K614-file"
inline constexpr long ERR_LOAD_CANCELLED = 30002;     // parameter load dialog cancelled
inline constexpr long ERR_SHORT_IO = 30003;           // fewer bytes than the record size
