// Replays the fuzz targets' seed corpus through the same parsers: every
// "good_*" seed parses, every "bad_*" seed (truncated, overlong, too many
// length octets, nesting deeper than the input) returns an error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "../fuzz/targets.h"

namespace fs = std::filesystem;

TEST(Corpus, GoodSeedsParseAndBadSeedsFail) {
  const std::map<std::string, DWORD (*)(const BYTE*, DWORD)> targets = {
      {"asn1_fuzz_obj", asn1fuzz::RunObj},
      {"asn1_fuzz_gdo", asn1fuzz::RunGdo},
      {"asn1_fuzz_gdoobjects", asn1fuzz::RunGdoObjects},
      {"asn1_fuzz_secobject", asn1fuzz::RunSecObject},
      {"asn1_fuzz_rsaobject", asn1fuzz::RunRsaObject},
      {"asn1_fuzz_fileobject", asn1fuzz::RunFileObject},
      {"asn1_fuzz_pkcs", asn1fuzz::RunPkcs},
  };
  int bad = 0, good = 0;
  for (const auto& [name, run] : targets) {
    fs::path dir = fs::path(ASN1_CORPUS_DIR) / name;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    for (const auto& file : fs::directory_iterator(dir)) {
      std::string seed = file.path().filename().string();
      SCOPED_TRACE(name + "/" + seed);
      std::ifstream in(file.path(), std::ios::binary);
      std::vector<BYTE> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      // Parse from an exact-size heap copy so that a read past the end is
      // caught by the address sanitizer.
      std::unique_ptr<BYTE[]> exact(new BYTE[data.size() ? data.size() : 1]);
      std::copy(data.begin(), data.end(), exact.get());
      DWORD r = run(data.empty() ? nullptr : exact.get(), static_cast<DWORD>(data.size()));
      if (seed.rfind("bad_", 0) == 0) {
        EXPECT_NE(0u, r);
        ++bad;
      } else if (seed.rfind("good_", 0) == 0) {
        EXPECT_EQ(0u, r);
        ++good;
      }
    }
  }
  EXPECT_GT(bad, 40);
  EXPECT_GT(good, 20);
}
