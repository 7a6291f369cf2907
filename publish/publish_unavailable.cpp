// k614ctl publish in the Windows build: not there (no MQTT client library is built for it); says so.
#include "publish/publish_command.h"

#include "cli/exit_codes.h"

int runPublish(const PublishOptions &, const CtlOps &, const CtlIo &io)
{
    std::fprintf(io.err, "k614ctl: publish is not in the Windows build of k614ctl; "
                         "run the Linux build of k614ctl on a machine with the device attached\n");
    return EXIT_USAGE;
}
