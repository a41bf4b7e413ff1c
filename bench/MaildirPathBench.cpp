// The per-message path of a scan over a Maildir, one stage at a time, over the message files of
// a real store: file read, decode, encode, hash, look-up and pump, and the server's listing and
// message objects. Each stage reports messages/s (items) and source bytes/s, so the time of one
// message in each stage is the inverse of its item rate.
//
// Usage: PAIRSWEEP_BENCH_MAILDIR=<maildir> pairsweep_bench_maildir_path [benchmark flags]
// The first 5000 message files of the store's INBOX and folders serve as the sample.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "scan/Fingerprint.h"
#include "scan/SeenSet.h"
#include "store/OEStore.h"
#include "store/maildir/MaildirFiles.h"
#include "store/maildir/MaildirServer.h"
#include "store/maildir/SourceDecoding.h"

namespace {

using namespace pairsweep;
namespace fs = std::filesystem;

struct TSample {
  std::vector<std::string> Paths;
  std::vector<std::string> Bytes;
  std::vector<std::u16string> Texts;
  std::size_t TotalBytes = 0;
};

const TSample& Sample() {
  static const TSample sample = [] {
    TSample s;
    const char* root = std::getenv("PAIRSWEEP_BENCH_MAILDIR");
    if (!root) {
      std::fprintf(stderr, "set PAIRSWEEP_BENCH_MAILDIR to a Maildir\n");
      std::exit(2);
    }
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      const auto parent = entry.path().parent_path().filename();
      if (!entry.is_regular_file() || (parent != "cur" && parent != "new")) continue;
      s.Paths.push_back(entry.path().string());
      if (s.Paths.size() == 5000) break;
    }
    for (const auto& path : s.Paths) {
      std::u16string text;
      std::vector<char> buffer(256 * 1024);
      store::maildir::ReadSource(AT_FDCWD, path.c_str(), buffer, text);
      s.Texts.push_back(text);
      s.Bytes.push_back(scan::SourceBytes(text));
      s.TotalBytes += s.Bytes.back().size();
    }
    return s;
  }();
  return sample;
}

void Report(benchmark::State& state) {
  const TSample& s = Sample();
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(s.Paths.size()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s.TotalBytes));
}

// open, fstat, read to the end, close: what any reader of the files pays.
void BM_ReadFile(benchmark::State& state) {
  const TSample& s = Sample();
  std::vector<char> buffer(256 * 1024);
  for (auto _ : state) {
    for (const auto& path : s.Paths) {
      int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      while (read(fd, buffer.data(), buffer.size()) > 0) {
      }
      close(fd);
    }
  }
  Report(state);
}
BENCHMARK(BM_ReadFile);

// The server's read: the same plus decoding into the source text.
void BM_ReadSource(benchmark::State& state) {
  const TSample& s = Sample();
  std::vector<char> buffer(256 * 1024);
  std::u16string text;
  for (auto _ : state) {
    for (const auto& path : s.Paths) {
      text.clear();
      store::maildir::ReadSource(AT_FDCWD, path.c_str(), buffer, text);
      benchmark::DoNotOptimize(text.data());
    }
  }
  Report(state);
}
BENCHMARK(BM_ReadSource);

void BM_Decode(benchmark::State& state) {
  const TSample& s = Sample();
  std::u16string text;
  for (auto _ : state) {
    for (const auto& bytes : s.Bytes) {
      text.clear();
      store::maildir::AppendDecodedSource(bytes, true, text);
      benchmark::DoNotOptimize(text.data());
    }
  }
  Report(state);
}
BENCHMARK(BM_Decode);

void BM_Encode(benchmark::State& state) {
  const TSample& s = Sample();
  std::string bytes;
  for (auto _ : state) {
    for (const auto& text : s.Texts) {
      bytes.clear();
      scan::AppendSourceBytes(text, bytes);
      benchmark::DoNotOptimize(bytes.data());
    }
  }
  Report(state);
}
BENCHMARK(BM_Encode);

// The scan's fingerprint: encoding and SHA-1 together, as the scan calls them.
void BM_EncodeAndHash(benchmark::State& state) {
  const TSample& s = Sample();
  scan::TLbSHA1 hash;
  scan::TDigest digest;
  for (auto _ : state) {
    for (const auto& text : s.Texts) {
      hash.HashSource(text);
      hash.GetDigest(digest);
      benchmark::DoNotOptimize(digest);
    }
  }
  Report(state);
}
BENCHMARK(BM_EncodeAndHash);

// SHA-1 alone over the same bytes: what sha1sum computes.
void BM_HashOnly(benchmark::State& state) {
  const TSample& s = Sample();
  scan::TLbSHA1 hash;
  scan::TDigest digest;
  for (auto _ : state) {
    for (const auto& bytes : s.Bytes) {
      hash.HashString(bytes);
      hash.GetDigest(digest);
      benchmark::DoNotOptimize(digest);
    }
  }
  Report(state);
}
BENCHMARK(BM_HashOnly);

// Rendering the digest and looking it up in a seen-set that already holds 50 000 entries.
void BM_LookUp(benchmark::State& state) {
  const TSample& s = Sample();
  scan::TSeenSet seen(scan::kSeenSetBuckets);
  for (int i = 0; i < 50000; ++i) {
    scan::TDigest digest{};
    std::memcpy(digest.data(), &i, sizeof i);
    seen.Add(scan::DigestToHex(digest.data(), 20), new scan::THashData);
  }
  std::vector<scan::TDigest> digests(s.Paths.size());
  for (std::size_t i = 0; i < digests.size(); ++i) {
    scan::TLbSHA1 hash;
    hash.HashString(s.Bytes[i]);
    hash.GetDigest(digests[i]);
  }
  for (auto _ : state) {
    for (const auto& digest : digests) {
      const std::string fingerprint = scan::DigestToHex(digest.data(), 20);
      benchmark::DoNotOptimize(seen.Exists(fingerprint));
    }
  }
  Report(state);
}
BENCHMARK(BM_LookUp);

// The main window's pump with nothing waiting, once per message.
void BM_Pump(benchmark::State& state) {
  const TSample& s = Sample();
  for (auto _ : state) {
    for (std::size_t i = 0; i < s.Paths.size(); ++i) QCoreApplication::processEvents();
  }
  Report(state);
}
BENCHMARK(BM_Pump);

// The server's side without the reads: listing every folder and handing out each message and
// its id, over the whole store.
void BM_ListAndHandOut(benchmark::State& state) {
  store::TRegistration registration =
      store::maildir::RegisterMaildirServer(std::getenv("PAIRSWEEP_BENCH_MAILDIR"));
  std::int64_t messages = 0;
  for (auto _ : state) {
    com::TComPtr<store::IOEFolderManager> manager;
    store::CreateInstance(store::kCLASS_OEFolderManager, store::kIID_IOEFolderManager,
                          reinterpret_cast<void**>(manager.Put()));
    com::TComPtr<store::IOEFolder> folder;
    com::TComPtr<store::IOEMessage> message;
    for (manager->FirstFolder(folder.Put()); folder; manager->NextFolder(folder.Put())) {
      for (folder->FirstMessage(message.Put()); message; folder->NextMessage(message.Put())) {
        std::int32_t id;
        message->MessageId(&id);
        ++messages;
      }
    }
  }
  state.SetItemsProcessed(messages);
}
BENCHMARK(BM_ListAndHandOut)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Sample();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
