#include "platform/outcome.h"
#include "platform/system_log.h"

namespace ravlin::platform {

const char* toString(ErrorCode code) {
    switch (code) {
        case ErrorCode::unavailable:
            return "unavailable";
        case ErrorCode::notSupported:
            return "not-supported";
        case ErrorCode::notPermitted:
            return "not-permitted";
        case ErrorCode::notFound:
            return "not-found";
        case ErrorCode::invalidArgument:
            return "invalid-argument";
        case ErrorCode::failed:
            return "failed";
    }
    return "failed";
}

const char* toString(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return "debug";
        case LogLevel::info:
            return "info";
        case LogLevel::notice:
            return "notice";
        case LogLevel::error:
            return "error";
        case LogLevel::fault:
            return "fault";
    }
    return "notice";
}

}  // namespace ravlin::platform
