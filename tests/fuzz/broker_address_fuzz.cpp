// libFuzzer target: any --broker text and any topic prefix, client id or user name as publish checks them.
//
// The host goes into a heap buffer of exactly BROKER_HOST_SIZE bytes, so that
// the sanitizer sees a byte written past it. The first input byte picks TLS's
// default port and whether the name is checked as a topic; the rest is the text.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "publish/publish_core.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t choices = input.byte();
    std::string text(input.left(), '\0');
    input.bytes(text.data(), text.size());
    text = text.c_str(); // up to the first NUL, as argv has it

    const std::unique_ptr<char[]> host(new char[BROKER_HOST_SIZE]);
    int port = 0;
    if (parseBroker(text.c_str(), (choices & 1) != 0, host.get(), &port)) {
        const std::size_t length = strnlen(host.get(), BROKER_HOST_SIZE);
        check(length > 0 && length < BROKER_HOST_SIZE);
        check(port >= 1 && port <= 65535);
        check(text.find(host.get()) != std::string::npos);
    }
    const char *fault = mqttNameFault(text.c_str(), (choices & 2) != 0);
    // Nothing refused for its length alone at these sizes, and a wildcard is only refused in a topic.
    if ((choices & 2) == 0 && fault)
        check(std::strstr(fault, "wildcard") == nullptr);
    return 0;
}
