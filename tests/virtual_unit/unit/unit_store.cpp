#include "unit_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

namespace vunit {

std::vector<std::string> knownFaults()
{
    return {fault::stallOtpUpload, fault::vanishAfter, fault::stuckByte, fault::bcdDevice,
            fault::noSerial, fault::threeInterfaces, fault::leaveStatusError, fault::accessDenied};
}

bool isKnownFault(const std::string &name)
{
    const auto names = knownFaults();
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string unitFile(const std::string &unitDir, const std::string &name)
{
    return unitDir + "/" + name;
}

std::int64_t nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool readFile(const std::string &path, std::string &content)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    content.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        content.append(buffer, std::size_t(n));
    }
    close(fd);
    return true;
}

// Readers in other processes see either the old file or the new one, never a
// half-written one.
bool writeFileAtomic(const std::string &path, const std::string &content)
{
    const std::string temp = path + ".tmp." + std::to_string(getpid());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            unlink(temp.c_str());
            return false;
        }
        done += std::size_t(n);
    }
    if (close(fd) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

namespace {

std::string firstLineTrimmed(std::string content)
{
    const auto end = content.find_first_of("\r\n");
    if (end != std::string::npos)
        content.resize(end);
    const auto first = content.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = content.find_last_not_of(" \t");
    return content.substr(first, last - first + 1);
}

} // namespace

std::string readText(const std::string &path, const std::string &fallback)
{
    std::string content;
    if (!readFile(path, content))
        return fallback;
    return firstLineTrimmed(content);
}

bool parseNumber(const std::string &text, std::uint64_t &value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    // Decimal, or hexadecimal after 0x; a leading zero does not mean octal.
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *digits = text.c_str() + (hex ? 2 : 0);
    if (!std::isxdigit(static_cast<unsigned char>(*digits)))
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(digits, &end, hex ? 16 : 10);
    if (errno != 0 || end == digits || *end != '\0')
        return false;
    value = v;
    return true;
}

BusState BusState::effective(std::int64_t now) const
{
    if (kind == Rebooting && now >= returnsAtMs) {
        BusState back;
        back.kind = Attached;
        back.generation = generation + 1;
        return back;
    }
    return *this;
}

std::string BusState::text() const
{
    switch (kind) {
    case Attached:
        return "attached " + std::to_string(generation);
    case Detached:
        return "detached " + std::to_string(generation);
    case Rebooting:
        return "rebooting " + std::to_string(generation) + " " + std::to_string(returnsAtMs);
    }
    return {};
}

BusState readBus(const std::string &unitDir)
{
    BusState state;
    std::istringstream in(readText(unitFile(unitDir, "bus")));
    std::string kind;
    in >> kind >> state.generation;
    if (kind == "attached")
        state.kind = BusState::Attached;
    else if (kind == "rebooting" && (in >> state.returnsAtMs))
        state.kind = BusState::Rebooting;
    else
        state.kind = BusState::Detached;
    return state;
}

bool writeBus(const std::string &unitDir, const BusState &state)
{
    return writeFileAtomic(unitFile(unitDir, "bus"), state.text() + "\n");
}

std::optional<std::string> faultArgument(const std::string &unitDir, const std::string &name)
{
    std::string content;
    if (!readFile(unitFile(unitDir, "faults/" + name), content))
        return std::nullopt;
    return firstLineTrimmed(content);
}

bool setFault(const std::string &unitDir, const std::string &name, const std::string &argument)
{
    mkdir(unitFile(unitDir, "faults").c_str(), 0755);
    return writeFileAtomic(unitFile(unitDir, "faults/" + name), argument + "\n");
}

void clearFault(const std::string &unitDir, const std::string &name)
{
    unlink(unitFile(unitDir, "faults/" + name).c_str());
}

std::vector<std::string> activeFaults(const std::string &unitDir)
{
    std::vector<std::string> names;
    for (const auto &name : knownFaults())
        if (faultArgument(unitDir, name))
            names.push_back(name);
    return names;
}

bool realisticTiming(const std::string &unitDir)
{
    return readText(unitFile(unitDir, "timing"), "fast") == "realistic";
}

int returnDelayMs(const std::string &unitDir)
{
    std::uint64_t value = 0;
    if (!parseNumber(readText(unitFile(unitDir, "return_delay_ms")), value) || value > 3600000)
        return defaultReturnDelayMs;
    return int(value);
}

std::vector<std::string> unitDirectories(const std::string &busDir)
{
    std::vector<std::string> dirs;
    DIR *dir = opendir(busDir.c_str());
    if (!dir)
        return dirs;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue;
        const std::string path = busDir + "/" + name;
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)
            && access(unitFile(path, "bus").c_str(), F_OK) == 0)
            dirs.push_back(path);
    }
    closedir(dir);
    std::sort(dirs.begin(), dirs.end());
    return dirs;
}

} // namespace vunit
