// SPDX-License-Identifier: MIT
// Speed of the update-image work: Triple DES over the largest update file
// against OpenSSL's two-key Triple DES (ECB) in the same run, and the header
// check that runs on every edit of the path. The last line printed is
// tdes_vs_openssl_ratio=<our throughput / OpenSSL's>.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "image/triple_des.h"
#include "image/update_image.h"
#include "image/update_sealer.h"

namespace {

constexpr std::size_t kBufferLength = 512 * 1024;

std::vector<std::uint8_t> RandomBytes(std::size_t length) {
    std::mt19937 random(42);
    std::vector<std::uint8_t> bytes(length);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

void BM_TripleDesDecrypt(benchmark::State& state) {
    const auto input = RandomBytes(kBufferLength);
    std::vector<std::uint8_t> output(kBufferLength);
    for (auto _ : state) {
        velmorin::TripleDesDecrypt(input.data(), static_cast<std::int32_t>(input.size()),
                                   output.data());
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBufferLength);
}
BENCHMARK(BM_TripleDesDecrypt)->MinTime(1.0);

void BM_OpenSslDesEdeEcbDecrypt(benchmark::State& state) {
    const auto input = RandomBytes(kBufferLength);
    const auto key = RandomBytes(16);
    std::vector<std::uint8_t> output(kBufferLength + 16);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (EVP_DecryptInit_ex(context, EVP_des_ede_ecb(), nullptr, key.data(), nullptr) != 1) {
        state.SkipWithError("OpenSSL has no DES-EDE-ECB");
        EVP_CIPHER_CTX_free(context);
        return;
    }
    EVP_CIPHER_CTX_set_padding(context, 0);
    for (auto _ : state) {
        int written = 0;
        EVP_DecryptUpdate(context, output.data(), &written, input.data(),
                          static_cast<int>(input.size()));
        benchmark::DoNotOptimize(output.data());
    }
    EVP_CIPHER_CTX_free(context);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBufferLength);
}
BENCHMARK(BM_OpenSslDesEdeEcbDecrypt)->MinTime(1.0);

class NoDisplay : public velmorin::FileInfoDisplay {
public:
    void ResetFileInfo(std::string_view) override {}
    void ShowFileInfo(const velmorin::FileInfoText&) override {}
    void ShowMessageBox(std::string_view, std::string_view, velmorin::MessageIcon) override {}
};

// The check an operator's keystroke in the path field triggers: open, read
// 512 bytes, decipher, recognise, show. Run on the largest file, in the
// header form (both ciphers are tried).
void BM_HeaderCheck(benchmark::State& state) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("velmorin-bench-" + std::to_string(::getpid()) + ".bin");
    {
        const auto file = velmorin::SealUpdateFile({}, RandomBytes(velmorin::kMaxPayloadLength),
                                                   velmorin::SealedForm::HeaderOnly);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
    }
    NoDisplay display;
    velmorin::UpdateImage image;
    for (auto _ : state) {
        if (!velmorin::CheckUpdateFile(path, image, display).Accepted()) {
            state.SkipWithError("the sealed file was not accepted");
            break;
        }
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_HeaderCheck)->Unit(benchmark::kMicrosecond);

void BM_WholeFileLoad(benchmark::State& state) {
    const auto file = velmorin::SealUpdateFile({}, RandomBytes(velmorin::kMaxPayloadLength),
                                               velmorin::SealedForm::WholeFile);
    velmorin::UpdateImage image;
    for (auto _ : state) {
        benchmark::DoNotOptimize(velmorin::LoadUpdateBytes(file, false, image).result);
    }
}
BENCHMARK(BM_WholeFileLoad)->Unit(benchmark::kMillisecond);

// Keeps the console output and notes the two cipher throughputs.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto bytes = run.counters.find("bytes_per_second");
            if (run.error_occurred || bytes == run.counters.end()) {
                continue;
            }
            const std::string name = run.benchmark_name();
            if (name.rfind("BM_TripleDesDecrypt", 0) == 0) {
                ours = bytes->second;
            } else if (name.rfind("BM_OpenSslDesEdeEcbDecrypt", 0) == 0) {
                theirs = bytes->second;
            }
        }
    }
    double ours = 0;
    double theirs = 0;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (reporter.ours > 0 && reporter.theirs > 0) {
        std::printf("tdes_mib_per_s=%.1f openssl_mib_per_s=%.1f\n", reporter.ours / 1048576.0,
                    reporter.theirs / 1048576.0);
        std::printf("tdes_vs_openssl_ratio=%.3f\n", reporter.ours / reporter.theirs);
    }
    return 0;
}
