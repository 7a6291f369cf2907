// k614ctl publish: the device's live data on an MQTT broker until Ctrl-C, SIGTERM or --duration.
#pragma once

#include "cli/ctl_io.h"
#include "cli/ctl_ops.h"
#include "publish/publish_options.h"

// publish_command.cpp (Linux), publish_unavailable.cpp (Windows); the process's exit code (cli/exit_codes.h).
int runPublish(const PublishOptions &options, const CtlOps &ops, const CtlIo &io);
