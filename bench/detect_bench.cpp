// Throughput of recognition, serial parsing and the exFAT boot checksum.
#include <benchmark/benchmark.h>

#include <string>

#include "bootsector/boot_region.h"
#include "bootsector/detect.h"
#include "bootsector/serial.h"
#include "sector_builders.h"

namespace {

using tlx::test::Bytes;

Bytes sectorFor(int kind) {
    switch (kind) {
    case 0: return tlx::test::fat1xSector(tlx::test::fat1xWithClusters(2000));
    case 1: return tlx::test::fat1xSector(tlx::test::fat1xWithClusters(30000));
    case 2: return tlx::test::fat32Sector({});
    case 3: return tlx::test::exfatSector({});
    case 4: return tlx::test::ntfsSector({});
    case 5: return Bytes(512, 0);
    }
    return {};
}

const char* const kKindNames[] = {"FAT12", "FAT16", "FAT32", "exFAT", "NTFS", "zeros"};

void detect(benchmark::State& state) {
    const Bytes sector = sectorFor(static_cast<int>(state.range(0)));
    state.SetLabel(kKindNames[state.range(0)]);
    for (auto _ : state) {
        const tlx::BootSectorInfo info = tlx::detectBootSector(sector);
        benchmark::DoNotOptimize(info);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 512);
}
BENCHMARK(detect)->DenseRange(0, 5);

void parseSerial(benchmark::State& state) {
    const std::wstring text = state.range(0) == 8 ? L"0123-ABCD" : L"0123-4567-89AB-CDEF";
    for (auto _ : state) {
        auto value = tlx::parseHexSerial(text, static_cast<unsigned>(state.range(0)));
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(parseSerial)->Arg(8)->Arg(16);

void exfatChecksum(benchmark::State& state) {
    const std::uint32_t bytesPerSector = static_cast<std::uint32_t>(state.range(0));
    tlx::test::ExFatParams params;
    params.sectorShift = bytesPerSector == 4096 ? 12 : 9;
    const Bytes region = tlx::test::exfatRegion(params);
    for (auto _ : state) {
        const std::uint32_t sum = tlx::exfatBootChecksum(region, bytesPerSector);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 11 * bytesPerSector);
}
BENCHMARK(exfatChecksum)->Arg(512)->Arg(4096);

}  // namespace
