// k614ctl's dispatch: the parsed command line to the command it names. It sits above every command; none of
// them includes it.
#include "cli/ctl_dispatch.h"

#include "cli/exit_codes.h"
#include "cli/log_command.h"
#include "cli/parameter_commands.h"
#include "publish/publish_command.h"

int runCtlCommand(const CtlArgs &args, const CtlOps &ops, const CtlIo &io)
{
    switch (args.command) {
    case CtlCommand::read:
        return runRead(args, ops, io);
    case CtlCommand::write:
        return runWrite(args, ops, io);
    case CtlCommand::show:
        return runShow(args, io);
    case CtlCommand::diff:
        return runDiff(args, io);
    case CtlCommand::log:
        return runLog(args, ops, io);
    case CtlCommand::publish:
        return runPublish(args.publish, ops, io);
    case CtlCommand::none:
        break;
    }
    writeUsage(io.err, CtlCommand::none);
    return EXIT_USAGE;
}
