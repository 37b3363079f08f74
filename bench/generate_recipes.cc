// Writes a pair of recipe files for the benchmark: one record a line, CR LF,
// about one field in ten of the second file differing from the first. The
// generator is its own PRNG so that a seed gives the same bytes everywhere.
//
// usage: kp_generate_recipes RECORDS SEED DIR
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// splitmix64: small, fast and fully specified, unlike the standard
// distributions whose output differs between library versions.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t bound) { return static_cast<uint32_t>(next() % bound); }
  bool oneIn(uint32_t n) { return below(n) == 0; }

 private:
  uint64_t state_;
};

constexpr const char* kUnits[] = {"g", "kg", "EL", "TL", "Pr", "St", "ml", "l", "Bd", "Pk"};
constexpr const char* kIngredients[] = {"Mehl",
                                        "Zucker",
                                        "Salz",
                                        "Eier",
                                        "Butter",
                                        "Milch",
                                        "Hefe",
                                        "Rohrzucker",
                                        "Vanillezucker",
                                        "Backpulver",
                                        "Zimt",
                                        "Quark",
                                        "Sahne",
                                        "Weizenmehl Type 405",
                                        "Haselnuesse gemahlen",
                                        "Zitronenschale abgerieben",
                                        "Wasser",
                                        "Honig",
                                        "Rosinen",
                                        "Mandeln gehobelt"};
constexpr uint32_t kUnitCount = sizeof(kUnits) / sizeof(kUnits[0]);
constexpr uint32_t kIngredientCount = sizeof(kIngredients) / sizeof(kIngredients[0]);

struct Record {
  uint32_t number;
  const char* unit;
  const char* ingredient;
};

Record randomRecord(Random& random) {
  return Record{1 + random.below(999), kUnits[random.below(kUnitCount)],
                kIngredients[random.below(kIngredientCount)]};
}

// Each field of the second file differs with probability 1/10.
Record varied(const Record& base, Random& random) {
  Record record = base;
  if (random.oneIn(10)) record.number = base.number + 1 + random.below(50);
  if (random.oneIn(10)) {
    while (record.unit == base.unit) record.unit = kUnits[random.below(kUnitCount)];
  }
  if (random.oneIn(10)) {
    while (record.ingredient == base.ingredient) {
      record.ingredient = kIngredients[random.below(kIngredientCount)];
    }
  }
  return record;
}

// Appends "number,unit,ingredient\r\n" without going through printf per row.
size_t formatRecord(const Record& record, char* out) {
  char digits[12];
  size_t count = 0;
  uint32_t n = record.number;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  size_t length = 0;
  while (count > 0) out[length++] = digits[--count];
  out[length++] = ',';
  for (const char* p = record.unit; *p; ++p) out[length++] = *p;
  out[length++] = ',';
  for (const char* p = record.ingredient; *p; ++p) out[length++] = *p;
  out[length++] = '\r';
  out[length++] = '\n';
  return length;
}

class BufferedFile {
 public:
  explicit BufferedFile(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
  ~BufferedFile() {
    if (file_) std::fclose(file_);
  }
  bool ok() const { return file_ != nullptr && !failed_; }
  void append(const char* bytes, size_t length) {
    if (used_ + length > sizeof(buffer_)) flush();
    std::memcpy(buffer_ + used_, bytes, length);
    used_ += length;
  }
  bool finish() {
    flush();
    if (file_ && std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
  }

 private:
  void flush() {
    if (file_ && used_ > 0 && std::fwrite(buffer_, 1, used_, file_) != used_) failed_ = true;
    used_ = 0;
  }
  std::FILE* file_;
  bool failed_ = false;
  size_t used_ = 0;
  char buffer_[1 << 16];
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s RECORDS SEED DIR\n", argv[0]);
    return 2;
  }
  const unsigned long long records = std::strtoull(argv[1], nullptr, 10);
  Random random(std::strtoull(argv[2], nullptr, 10));
  const std::string dir = argv[3];
  // Written under temporary names and renamed at the end, so that an
  // interrupted run never leaves a half pair that looks cached.
  const std::string temp1 = dir + "/Rezept1.txt.part";
  const std::string temp2 = dir + "/Rezept2.txt.part";
  auto* first = new BufferedFile(temp1);
  auto* second = new BufferedFile(temp2);
  if (!first->ok() || !second->ok()) {
    std::fprintf(stderr, "cannot create the recipe files in %s: %s\n", dir.c_str(),
                 std::strerror(errno));
    return 1;
  }
  char line[128];
  for (unsigned long long i = 0; i < records; ++i) {
    const Record base = randomRecord(random);
    first->append(line, formatRecord(base, line));
    second->append(line, formatRecord(varied(base, random), line));
  }
  const bool written = first->finish() && second->finish();
  delete first;
  delete second;
  if (!written || std::rename(temp1.c_str(), (dir + "/Rezept1.txt").c_str()) != 0 ||
      std::rename(temp2.c_str(), (dir + "/Rezept2.txt").c_str()) != 0) {
    std::fprintf(stderr, "cannot write the recipe files in %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
