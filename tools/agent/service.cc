#include "service.h"

#include <string_view>
#include <vector>

#include "document.h"

namespace zvagent {
namespace {

Answer refuse(int code, std::string reason, std::string_view text) {
  return {code, std::move(reason), agent_error("BAD_REQUEST", text)};
}

Answer post(AgentState& state, const Request& request) {
  Form form = form_decode(request.body);
  if (const std::string* message = form_find(form, "message")) {
    state.message_received(*message);
    return {200, "OK", agent_status("Message accepted.")};
  }
  if (const std::string* transaction = form_find(form, "transactionid")) {
    std::vector<std::string> items;
    for (const auto& [name, value] : form)
      if (name == "mapdata") items.push_back(value);
    state.map_data_received(*transaction, items);
    return {200, "OK", agent_status("Map data accepted.")};
  }
  return refuse(400, "Bad Request", "A submission needs a message or a transactionid parameter.");
}

Answer get(AgentState& state, const Request& request) {
  constexpr std::string_view status = "/status";
  std::string_view path = request.path;
  if (path.size() >= status.size() && path.substr(path.size() - status.size()) == status) {
    std::string counts = element("messages", std::to_string(state.messages())) +
                         element("mapdata", std::to_string(state.map_data())) +
                         element("responses", std::to_string(state.waiting()));
    return {200, "OK", agent_status("Ready.", counts)};
  }
  Form form = form_decode(request.query);
  if (const std::string* client = form_find(form, "client")) {
    if (std::optional<std::string> response = state.response_take(*client))
      return {200, "OK", std::move(*response)};
    return {200, "OK", agent_status("No response waiting.", element("client", *client))};
  }
  return refuse(400, "Bad Request",
                "A retrieval needs a client parameter or a path ending in /status.");
}

}  // namespace

Answer service_answer(AgentState& state, const std::optional<Request>& request) {
  if (!request) return refuse(400, "Bad Request", "The request could not be read.");
  if (request->method == "POST") return post(state, *request);
  if (request->method == "GET") return get(state, *request);
  return refuse(501, "Not Implemented", "Only GET and POST are served.");
}

}  // namespace zvagent
