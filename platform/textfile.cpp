#include "platform/textfile.h"
#include "platform/codepage.h"
#include "platform/fs_internal.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace tavrin::platform::textfile {

namespace {

constexpr int maxNumber = 255;

struct Slot {
    bool open = false;
    Mode mode = Mode::Input;
    detail::FileHandle handle = detail::invalidHandle;
    std::uint64_t written = 0; // output and update: the size of the file, queued lines aside
    std::string queued;        // output: encoded lines not yet handed to the system
    std::string content;       // input and update: the whole file, in the code page
    std::size_t pos = 0;
};

struct Table {
    std::array<Slot, maxNumber + 1> slots;
    ~Table() {
        for (auto& slot : slots) {
            if (slot.open && slot.handle != detail::invalidHandle) {
                detail::closeHandle(slot.handle);
            }
        }
    }
};

Table& table() {
    static Table t;
    return t;
}

Slot* slotFor(int number) {
    if (number < 1 || number > maxNumber) {
        return nullptr;
    }
    return &table().slots[static_cast<std::size_t>(number)];
}

// ASCII without CR or LF, as most lines are: eight bytes at a time, one look
// at each byte for both questions.
bool isAsciiWithoutBreak(std::string_view text) {
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    const auto holds = [](std::uint64_t word, unsigned char byte) {
        const std::uint64_t x = word ^ (ones * byte); // a zero byte where `byte` was
        return ((x - ones) & ~x & highs) != 0;
    };
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        if ((word & highs) != 0 || holds(word, '\r') || holds(word, '\n')) {
            return false;
        }
    }
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80 || c == '\r' || c == '\n') {
            return false;
        }
    }
    return true;
}

Status notOpen(int number) {
    return Status::failure("file number " + std::to_string(number) + " is not open");
}

} // namespace

Status open(int number, const std::string& path, Mode mode, std::uint64_t maxBytes) {
    Slot* slot = slotFor(number);
    if (slot == nullptr) {
        return Status::failure("bad file number " + std::to_string(number));
    }
    if (slot->open) {
        return Status::failure("file number " + std::to_string(number) + " is already open");
    }
    Slot fresh;
    fresh.mode = mode;
    Status error;
    fresh.handle = mode == Mode::Output   ? detail::openForOutput(path, &error)
                   : mode == Mode::Update ? detail::openForUpdate(path, &error)
                                          : detail::openForInput(path, &error);
    if (fresh.handle == detail::invalidHandle) {
        return error;
    }
    if (mode != Mode::Output) {
        if (Status read = detail::readAll(fresh.handle, fresh.content, maxBytes); !read.ok()) {
            detail::closeHandle(fresh.handle);
            return read;
        }
        fresh.written = fresh.content.size();
        if (mode == Mode::Input) {
            detail::closeHandle(fresh.handle);
            fresh.handle = detail::invalidHandle;
        }
    }
    fresh.open = true;
    *slot = std::move(fresh);
    return Status::success();
}

Status queueLine(int number, std::string_view utf8) {
    Slot* slot = slotFor(number);
    if (slot == nullptr || !slot->open || slot->mode != Mode::Output) {
        return notOpen(number);
    }
    if (isAsciiWithoutBreak(utf8) && historyCodePage().keepsAscii()) {
        slot->queued.append(utf8).append("\r\n");
        return Status::success();
    }
    if (utf8.find('\n') != std::string_view::npos || utf8.find('\r') != std::string_view::npos) {
        return Status::failure("改行文字を含む行は書き込めません");
    }
    if (!historyCodePage().encodeAppend(utf8, slot->queued)) {
        return Status::failure("変更履歴の文字コードで表せない文字が含まれています");
    }
    slot->queued += "\r\n";
    return Status::success();
}

Status flush(int number) {
    Slot* slot = slotFor(number);
    if (slot == nullptr || !slot->open || slot->mode == Mode::Input) {
        return notOpen(number);
    }
    if (slot->queued.empty()) {
        return Status::success();
    }
    // What reached the file counts as written even when the rest did not
    // (a full disk): a cut back to an earlier size then cuts it off too.
    std::size_t written = 0;
    Status status = detail::writeAll(slot->handle, slot->queued, written);
    slot->written += written;
    slot->queued.erase(0, written);
    return status;
}

Status writeLine(int number, std::string_view utf8) {
    Status status = queueLine(number, utf8);
    return status.ok() ? flush(number) : status;
}

Status sync(int number) {
    if (Status status = flush(number); !status.ok()) {
        return status;
    }
    return detail::syncData(slotFor(number)->handle);
}

std::uint64_t size(int number) {
    const Slot* slot = slotFor(number);
    return slot != nullptr && slot->open ? slot->written + slot->queued.size() : 0;
}

Status truncate(int number, std::uint64_t newSize) {
    Slot* slot = slotFor(number);
    if (slot == nullptr || !slot->open || slot->mode == Mode::Input) {
        return notOpen(number);
    }
    if (newSize >= slot->written) {
        slot->queued.resize(std::min<std::uint64_t>(newSize - slot->written, slot->queued.size()));
        return Status::success();
    }
    slot->queued.clear();
    Status status = detail::truncateTo(slot->handle, newSize);
    if (status.ok()) {
        slot->written = newSize;
    }
    return status;
}

Status readLine(int number, std::string& utf8, bool* complete) {
    Slot* slot = slotFor(number);
    if (slot == nullptr || !slot->open || slot->mode == Mode::Output) {
        return notOpen(number);
    }
    if (slot->pos >= slot->content.size()) {
        return Status::failure("ファイルの終わりを越えて読もうとしました");
    }
    const std::string_view rest = std::string_view(slot->content).substr(slot->pos);
    const std::size_t end = rest.find("\r\n");
    const bool ended = end != std::string_view::npos;
    const std::string_view line = ended ? rest.substr(0, end) : rest;
    slot->pos += ended ? end + 2 : rest.size();
    if (complete != nullptr) {
        *complete = ended;
    }
    if (!historyCodePage().decode(line, utf8)) {
        return Status::failure("変更履歴の文字コードとして読めないバイトがあります");
    }
    return Status::success();
}

std::uint64_t position(int number) {
    const Slot* slot = slotFor(number);
    return slot != nullptr && slot->open ? slot->pos : 0;
}

bool atEnd(int number) {
    const Slot* slot = slotFor(number);
    return slot == nullptr || !slot->open || slot->pos >= slot->content.size();
}

void close(int number) {
    Slot* slot = slotFor(number);
    if (slot == nullptr || !slot->open) {
        return;
    }
    if (slot->handle != detail::invalidHandle) {
        flush(number);
        detail::closeHandle(slot->handle);
    }
    *slot = Slot{};
}

bool isOpen(int number) {
    const Slot* slot = slotFor(number);
    return slot != nullptr && slot->open;
}

} // namespace tavrin::platform::textfile
