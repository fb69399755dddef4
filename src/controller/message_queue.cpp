#include "controller/message_queue.h"

#include <utility>

namespace rez {

bool MessageQueue::push(std::span<const std::uint8_t> bytes) {
    // Copy before locking: the allocation need not hold up the other side.
    return push(Message(bytes.begin(), bytes.end()));
}

bool MessageQueue::push(Message&& message) {
    std::lock_guard lock(mutex_);
    if (messages_.size() >= capacity_) return false;
    messages_.push_back(std::move(message));
    return true;
}

std::optional<MessageQueue::Message> MessageQueue::front() const {
    std::lock_guard lock(mutex_);
    if (messages_.empty()) return std::nullopt;
    return messages_.front();
}

bool MessageQueue::popFront() {
    std::lock_guard lock(mutex_);
    if (messages_.empty()) return false;
    messages_.pop_front();
    return true;
}

std::optional<MessageQueue::Message> MessageQueue::takeFront() {
    std::lock_guard lock(mutex_);
    if (messages_.empty()) return std::nullopt;
    std::optional<Message> first(std::move(messages_.front()));
    messages_.pop_front();
    return first;
}

bool MessageQueue::popFrontIfSame(const Message& expected, std::size_t atLeast) {
    std::lock_guard lock(mutex_);
    if (messages_.empty() || messages_.size() < atLeast || messages_.front() != expected) return false;
    messages_.pop_front();
    return true;
}

std::size_t MessageQueue::size() const {
    std::lock_guard lock(mutex_);
    return messages_.size();
}

bool MessageQueue::empty() const {
    std::lock_guard lock(mutex_);
    return messages_.empty();
}

void MessageQueue::clear() {
    // Release the messages outside the lock.
    std::deque<Message> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(messages_);
    }
}

}  // namespace rez
