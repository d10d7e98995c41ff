// What the agent holds: counts of what it was given, and the responses that
// wait for each client.
//
// Responses come to wait in three ways:
//  - a submitted message containing <client>ID</client> (the first such
//    element; entities in ID decoded) queues an echo of the message for ID;
//  - a data-map submission with at least one item queues an echo of the
//    transaction id and the items for the client named by the first item;
//  - --queue-response CLIENT TEXT queues TEXT itself at start-up.
// An echo is a one-line transaction of method "Response", subclass "Echo",
// carrying <client>, <sequence> (1 for the first response queued since
// start, counting every way) and what was received.  Each client's responses
// are handed out in the order they were queued, one per request.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zvagent {

class AgentState {
 public:
  /// Counts one submitted message and queues its echo when it names a client.
  void message_received(std::string_view message);

  /// Counts one data-map submission and queues its echo when it has items.
  void map_data_received(std::string_view transaction_id, const std::vector<std::string>& items);

  /// Queues `document` as it is for `client`.
  void response_queue(std::string_view client, std::string document);

  /// Removes and returns the oldest response waiting for `client`, or nothing.
  std::optional<std::string> response_take(const std::string& client);

  std::size_t messages() const { return messages_; }
  std::size_t map_data() const { return map_data_; }
  std::size_t waiting() const { return waiting_; }

 private:
  std::string next_sequence();

  std::map<std::string, std::deque<std::string>, std::less<>> responses_;
  std::size_t messages_ = 0;
  std::size_t map_data_ = 0;
  std::size_t waiting_ = 0;
  std::size_t sequence_ = 0;
};

}  // namespace zvagent
