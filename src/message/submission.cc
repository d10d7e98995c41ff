#include "message/submission.h"

namespace zv {

Submission message_submission(std::string_view message) {
  Submission submission;
  submission.message = message;
  return submission;
}

Submission map_data_submission(const char* transaction_id, Words items) {
  std::size_t end = 0;
  while (end < items.size() && items[end] != nullptr) ++end;
  Submission submission;
  submission.kind = Submission::Kind::kMapData;
  submission.transaction_id = transaction_id;
  submission.items = items.first(end);
  return submission;
}

ParamList submission_params(const Submission& submission) {
  ParamList list;
  if (submission.kind == Submission::Kind::kMessage) {
    list.push_back({"message", submission.message});
    return list;
  }
  list.reserve(1 + submission.items.size());
  list.push_back({"transactionid", submission.transaction_id});
  for (const char* item : submission.items) list.push_back({"mapdata", item});
  return list;
}

}  // namespace zv
