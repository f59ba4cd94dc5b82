// libFuzzer target: arbitrary directory values (lists in lists, bounds, numbers, broken text)
// through the fetch run and the trace sink. Every line in the pane must be one of the report's
// shapes, and the log file must hold exactly the pane's lines after the run separator.

#include "report/FetchAttributes.h"
#include "trace/LogFile.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

using quindral::DirectoryValue;

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool Empty() const { return at_ >= size_; }
    std::string Bytes(std::size_t most) {
        std::string text;
        for (std::size_t n = Byte() % (most + 1); n > 0 && !Empty(); --n) {
            text += static_cast<char>(Byte());
        }
        return text;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

DirectoryValue Value(Input& in, int depth) {
    switch (in.Byte() % 9) {
    case 0:
        return DirectoryValue::Empty();
    case 1:
        return DirectoryValue::Null();
    case 2:
        return DirectoryValue::Integer(static_cast<std::int8_t>(in.Byte()) * 1000003LL);
    case 3:
        return DirectoryValue::Real(static_cast<double>(in.Byte()) / 7.0);
    case 4:
        return DirectoryValue::Boolean(in.Byte() & 1);
    case 5:
        return DirectoryValue::Object();
    case 6:
        return DirectoryValue::NoTextForm();
    case 7:
        if (depth < 3) {
            std::vector<DirectoryValue> elements;
            for (int n = in.Byte() % 8; n > 0 && !in.Empty(); --n) {
                elements.push_back(Value(in, depth + 1));
            }
            return DirectoryValue::List(std::move(elements),
                                        static_cast<std::int8_t>(in.Byte()) % 4);
        }
        [[fallthrough]];
    default:
        return DirectoryValue::Text(in.Bytes(40));
    }
}

class FuzzDirectory final : public quindral::Directory, public quindral::DirectoryObject {
public:
    explicit FuzzDirectory(Input& in) : in_(in) {}
    std::shared_ptr<DirectoryObject> Bind(std::string_view) override {
        if (in_.Byte() % 8 == 0) {
            return nullptr;
        }
        return std::shared_ptr<DirectoryObject>(this, [](DirectoryObject*) {});
    }
    std::optional<std::string> ADsPath() const override { return "LDAP://rootDSE"; }
    std::optional<DirectoryValue> Get(std::string_view) const override {
        if (in_.Byte() % 5 == 0) {
            return std::nullopt;
        }
        return Value(in_, 0);
    }

private:
    Input& in_;
};

// The log file lives in memory where the system offers a tmpfs: the file system's own speed
// would otherwise bound the fuzzer.
const std::filesystem::path& LogPath() {
    static const std::filesystem::path path =
        (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path()) /
        ("quindral-fuzz-" + std::to_string(getpid()));
    return path;
}

std::string ReadLog() {
    std::string log;
    const int fd = ::open(LogPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return log;
    }
    char buffer[65536];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
        log.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return log;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    FuzzDirectory directory(in);
    quindral::StringTextHolder pane;
    // Emptied rather than removed: the fuzzer runs thousands of inputs a second, and every
    // file system call counts.
    ::truncate(LogPath().c_str(), 0);
    quindral::TraceSink sink(pane, LogPath());
    quindral::FetchAttributes("LDAP", directory, sink);

    const std::string text = pane.Text();
    if (ReadLog() != "********************\r\n" + text) {
        std::abort();
    }
    if (text.find("  namingContexts: ") == std::string::npos || !text.ends_with("\r\n") ||
        text.find("  altServer: ") == std::string::npos) {
        std::abort();
    }
    return 0;
}
