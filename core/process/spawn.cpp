#include "core/process/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace ravlin::process {

std::string SpawnError::description() const {
    return function + " failed: " + std::strerror(code);
}

Environment currentEnvironment() {
    Environment result;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        const auto equals = text.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        result.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
    }
    return result;
}

std::vector<std::string> environmentEntries(const Environment& environment) {
    std::vector<std::string> entries;
    entries.reserve(environment.size());
    for (const auto& [name, value] : environment) {  // std::map iterates in ascending order
        entries.push_back(name + "=" + value);
    }
    return entries;
}

namespace {

// Owns the spawn attribute objects so that every path destroys what was made.
class SpawnSetup {
  public:
    ~SpawnSetup() {
        if (actionsReady_) {
            posix_spawn_file_actions_destroy(&actions_);
        }
        if (attributesReady_) {
            posix_spawnattr_destroy(&attributes_);
        }
    }

    std::optional<SpawnError> prepare(const ChildDescriptors& fds) {
        int rc = posix_spawn_file_actions_init(&actions_);
        if (rc != 0) {
            return SpawnError{"posix_spawn_file_actions_init", rc};
        }
        actionsReady_ = true;

        if (fds.standardInputRead < 0) {
            rc = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
            if (rc != 0) {
                return SpawnError{"posix_spawn_file_actions_addopen", rc};
            }
        } else if ((rc = posix_spawn_file_actions_adddup2(&actions_, fds.standardInputRead, 0)) !=
                   0) {
            return SpawnError{"posix_spawn_file_actions_adddup2(stdin)", rc};
        }
        if ((rc = posix_spawn_file_actions_adddup2(&actions_, fds.standardOutputWrite, 1)) != 0) {
            return SpawnError{"posix_spawn_file_actions_adddup2(stdout)", rc};
        }
        if ((rc = posix_spawn_file_actions_adddup2(&actions_, fds.standardErrorWrite, 2)) != 0) {
            return SpawnError{"posix_spawn_file_actions_adddup2(stderr)", rc};
        }

        struct Close {
            int fd;
            bool wanted;
            const char* name;
        };
        const Close closes[] = {
            {fds.standardInputWrite, fds.standardInputWrite >= 0, "stdin write"},
            {fds.standardOutputRead, true, "stdout read"},
            {fds.standardErrorRead, true, "stderr read"},
            {fds.standardInputRead, fds.standardInputRead > 0, "stdin read"},
            {fds.standardOutputWrite, fds.standardOutputWrite != 1, "stdout write"},
            {fds.standardErrorWrite, fds.standardErrorWrite != 2, "stderr write"},
        };
        for (const auto& close : closes) {
            if (!close.wanted) {
                continue;
            }
            if ((rc = posix_spawn_file_actions_addclose(&actions_, close.fd)) != 0) {
                return SpawnError{
                    std::string("posix_spawn_file_actions_addclose(") + close.name + ")", rc};
            }
        }
        // Descriptors another thread opened without close-on-exec must not reach the child.
        if ((rc = posix_spawn_file_actions_addclosefrom_np(&actions_, 3)) != 0) {
            return SpawnError{"posix_spawn_file_actions_addclosefrom_np", rc};
        }

        if ((rc = posix_spawnattr_init(&attributes_)) != 0) {
            return SpawnError{"posix_spawnattr_init", rc};
        }
        attributesReady_ = true;
        const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if ((rc = posix_spawnattr_setflags(&attributes_, flags)) != 0) {
            return SpawnError{"posix_spawnattr_setflags", rc};
        }
        if ((rc = posix_spawnattr_setpgroup(&attributes_, 0)) != 0) {
            return SpawnError{"posix_spawnattr_setpgroup", rc};
        }
        sigset_t none;
        sigemptyset(&none);
        if ((rc = posix_spawnattr_setsigmask(&attributes_, &none)) != 0) {
            return SpawnError{"posix_spawnattr_setsigmask", rc};
        }
        sigset_t all;
        sigfillset(&all);
        if ((rc = posix_spawnattr_setsigdefault(&attributes_, &all)) != 0) {
            return SpawnError{"posix_spawnattr_setsigdefault", rc};
        }
        return std::nullopt;
    }

    posix_spawn_file_actions_t* actions() { return &actions_; }
    posix_spawnattr_t* attributes() { return &attributes_; }

  private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool actionsReady_ = false;
    bool attributesReady_ = false;
};

}  // namespace

SpawnResult spawnInNewProcessGroup(const SpawnRequest& request,
                                   const ChildDescriptors& descriptors) {
    SpawnSetup setup;
    if (auto error = setup.prepare(descriptors)) {
        return {-1, std::move(error)};
    }

    std::vector<std::string> arguments;
    arguments.reserve(request.arguments.size() + 1);
    arguments.push_back(request.executablePath);
    arguments.insert(arguments.end(), request.arguments.begin(), request.arguments.end());
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    std::vector<std::string> entries =
        environmentEntries(request.environment ? *request.environment : currentEnvironment());
    std::vector<char*> envp;
    envp.reserve(entries.size() + 1);
    for (auto& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, request.executablePath.c_str(), setup.actions(),
                               setup.attributes(), argv.data(), envp.data());
    if (rc != 0) {
        return {-1, SpawnError{"posix_spawn", rc}};
    }
    return {pid, std::nullopt};
}

}  // namespace ravlin::process
