#pragma once
// Bounded first-in first-out queue of byte messages, shared between the host's
// threads and the link loops. Every operation holds the queue's own mutex only
// for its own duration; the bound is checked under the same lock as the append,
// so concurrent producers can never push a queue past its capacity.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace rez {

class MessageQueue {
public:
    using Message = std::vector<std::uint8_t>;

    explicit MessageQueue(std::size_t capacity) : capacity_(capacity) {}
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    std::size_t capacity() const noexcept { return capacity_; }

    // Appends a copy of the bytes; false (and nothing appended) when the queue
    // already holds `capacity` messages.
    bool push(std::span<const std::uint8_t> bytes);
    bool push(Message&& message);

    // A copy of the oldest message, or nothing when empty.
    std::optional<Message> front() const;
    // Removes the oldest message; false when there was none.
    bool popFront();
    // Removes and returns the oldest message in one step, so two consumers
    // can never both receive the same message.
    std::optional<Message> takeFront();
    // Removes the oldest message only while the queue holds at least
    // `atLeast` and that message still equals `expected`: a consumer that
    // wrote a copy removes what it wrote, not whatever another consumer (or
    // a clear and a push) has put in front since.
    bool popFrontIfSame(const Message& expected, std::size_t atLeast = 1);

    std::size_t size() const;
    bool empty() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::deque<Message> messages_;
    const std::size_t capacity_;
};

}  // namespace rez
