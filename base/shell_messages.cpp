// The "%s: %ld" message form.
#include "base/shell_messages.h"

#include <cstdio>

void formatCodeMessage(char *out, std::size_t size, const char *text, long code)
{
    std::snprintf(out, size, "%s: %ld", text, code);
}
