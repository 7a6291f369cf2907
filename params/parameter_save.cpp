// Saving the parameter block: which step of the replacing file failed, and what that returns.
#include "params/parameter_save.h"

#include "base/result_codes.h"

long saveParameterBlock(const FileReplaceOps &ops, const char *path, const ParameterSet &set)
{
    const long begun = ops.begin(ops.context, path);
    if (begun != 0)
        return begun;
    // A write that does not go through whole is the "short write" the
    // command reports as the file's own fault, whatever the system's code.
    if (ops.write(ops.context, &set, PARAMETER_FILE_SIZE) != 0) {
        ops.discard(ops.context);
        return ERR_SHORT_IO;
    }
    return ops.commit(ops.context);
}
