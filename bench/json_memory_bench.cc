// Heap bytes per task record (an object with "关键字", a 20-byte GBK string,
// and "现行级别" 2.0) in an array of one million, through json-c alone and
// through the JSON wrapper the way the harvest builds them. Measured with
// mallinfo2, each in a fresh child process so the two do not share a heap.
#include <json-c/json.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "json/json.h"

namespace {

constexpr int kRecords = 1000000;

std::size_t HeapInUse() { return mallinfo2().uordblks; }

void JsonC(const std::string& keyword, const std::string& levelKey, const std::string& keywordKey) {
  json_object* list = json_object_new_array();
  for (int i = 0; i < kRecords; ++i) {
    json_object* record = json_object_new_object();
    json_object_object_add(record, keywordKey.c_str(),
                           json_object_new_string_len(keyword.data(), static_cast<int>(keyword.size())));
    json_object_object_add(record, levelKey.c_str(), json_object_new_double(2.0));
    json_object_array_add(list, record);
  }
}

void Wrapper(const std::string& keyword, const std::string& levelKey, const std::string& keywordKey) {
  auto* list = new kelvarn::JSON;
  list->Parse("[]");
  for (int i = 0; i < kRecords; ++i) {
    kelvarn::JSON record;
    record.Parse("{}");
    record.SetMember(keywordKey, kelvarn::Text(keyword));
    record.SetMember(levelKey, 2.0);
    list->Append(record);
  }
}

double Measure(void (*build)(const std::string&, const std::string&, const std::string&)) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    const std::string keyword = kelvarn::Utf8ToGbk("关键字挖掘工具推荐一");  // 20 bytes
    const std::string keywordKey = kelvarn::Utf8ToGbk("关键字"), levelKey = kelvarn::Utf8ToGbk("现行级别");
    const std::size_t before = HeapInUse();
    build(keyword, levelKey, keywordKey);
    const double perRecord = static_cast<double>(HeapInUse() - before) / kRecords;
    if (write(pipefd[1], &perRecord, sizeof perRecord) != sizeof perRecord) _exit(1);
    _exit(0);
  }
  double perRecord = -1;
  if (read(pipefd[0], &perRecord, sizeof perRecord) != sizeof perRecord) perRecord = -1;
  waitpid(child, nullptr, 0);
  return perRecord;
}

}  // namespace

int main() {
  const double jsonc = Measure(JsonC), wrapper = Measure(Wrapper);
  std::printf("json-c alone:    %.1f bytes per record\n", jsonc);
  std::printf("JSON wrapper:    %.1f bytes per record\n", wrapper);
  std::printf("wrapper / json-c: %.3f\n", wrapper / jsonc);
  return 0;
}
