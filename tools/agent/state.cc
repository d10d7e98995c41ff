#include "state.h"

#include <utility>

#include "document.h"

namespace zvagent {
namespace {

// The client named in a message, if any.
std::optional<std::string> client_of(std::string_view message) {
  constexpr std::string_view open = "<client>", close = "</client>";
  std::size_t begin = message.find(open);
  if (begin == std::string_view::npos) return std::nullopt;
  begin += open.size();
  std::size_t end = message.find(close, begin);
  if (end == std::string_view::npos) return std::nullopt;
  return xml_unescape(message.substr(begin, end - begin));
}

}  // namespace

std::string AgentState::next_sequence() { return std::to_string(sequence_ + 1); }

void AgentState::message_received(std::string_view message) {
  ++messages_;
  std::optional<std::string> client = client_of(message);
  if (!client) return;
  std::string data = element("client", *client) + element("sequence", next_sequence()) +
                     element("message", message);
  response_queue(*client, transaction_document("Response", "Echo", data));
}

void AgentState::map_data_received(std::string_view transaction_id,
                                   const std::vector<std::string>& items) {
  ++map_data_;
  if (items.empty()) return;
  std::string data = element("client", items.front()) + element("sequence", next_sequence()) +
                     element("transactionid", transaction_id);
  for (const std::string& item : items) data += element("mapdata", item);
  response_queue(items.front(), transaction_document("Response", "Echo", data));
}

void AgentState::response_queue(std::string_view client, std::string document) {
  auto slot = responses_.find(client);
  if (slot == responses_.end())
    slot = responses_.emplace(std::string(client), std::deque<std::string>()).first;
  slot->second.push_back(std::move(document));
  ++waiting_;
  ++sequence_;
}

std::optional<std::string> AgentState::response_take(const std::string& client) {
  auto slot = responses_.find(client);
  if (slot == responses_.end() || slot->second.empty()) return std::nullopt;
  std::string document = std::move(slot->second.front());
  slot->second.pop_front();
  if (slot->second.empty()) responses_.erase(slot);
  --waiting_;
  return document;
}

}  // namespace zvagent
