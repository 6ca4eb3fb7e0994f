// zirko-bench: what each operation costs on the virtual receiver, next to
// the fewest transfers the protocol needs for it.
//
//   zirko-bench [--latency MS] [--eeprom-write MS]
//
// --latency is added to every transfer (1 ms is a full-speed control
// transfer); --eeprom-write is added to every EEPROM byte written, on top.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#ifdef ZIRKO_BENCH_WINDOW
#include <QCoreApplication>
#include <QDeadlineTimer>

#include "receiver_session.h"
#include "zirko_interrupt.h"
#endif

#include "bus.h"
#include "cmd.h"
#include "history_keep.h"
#include "image.h"
#include "usb_backend.h"
#include "zirko.h"

namespace {

using zk::virt::Bus;
using zk::virt::ReceiverState;

using zk::layout::kEntrySize;
using zk::layout::kHeaderSize;
using zk::layout::kMaxImageSize;

constexpr int kFullReceiver = zk::layout::kMaxButtons;

struct Row {
  std::string operation;
  long minimum;  // fewest transfers the protocol allows
  std::function<void(Bus &)> arrange;
  std::function<void()> run;
};

struct Result {
  size_t transfers = 0;
  size_t eeprom_writes = 0;
  double wall_ms = 0;
};

ReceiverState QuietState() {
  ReceiverState state;
  state.auto_press = false;
  state.press_delay_ms = 0;
  // The receiver's own time to leave and come back is not the library's
  // cost: the upgrade rows measure what the host adds to the bus time.
  state.reenumerate_delay_ms = 0;
  state.leave_delay_ms = 0;
  return state;
}

void Fill(Bus &bus, int buttons) {
  bus.receiver()->edit([&](ReceiverState &s) {
    int size = kHeaderSize + kEntrySize * buttons;
    s.eeprom[0] = uint8_t(size >> 8);
    s.eeprom[1] = uint8_t(size);
    for (int i = 0; i < buttons; ++i) {
      uint8_t *entry = &s.eeprom[kHeaderSize + kEntrySize * i];
      entry[0] = uint8_t(i);
      entry[1] = uint8_t(i * 7);
      entry[2] = 0xA5;
      entry[3] = 0x5A;
      entry[4] = 0;
      entry[5] = uint8_t(4 + i % 20);
    }
  });
}

// Output of the programs' own printing goes nowhere while a row runs.
class Silence {
 public:
  Silence() : saved_out_(dup(1)), saved_err_(dup(2)) {
    fflush(stdout);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    close(null);
  }
  ~Silence() {
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out_, 1);
    dup2(saved_err_, 2);
    close(saved_out_);
    close(saved_err_);
  }

 private:
  int saved_out_;
  int saved_err_;
};

// A command as a user types it: a line of its own, so its first change is
// kept in the history (under the bench's own state folder).
int RunCommand(const std::string &line) {
  history_new_line();
  return run_cmd_line(line.c_str(), nullptr);
}

void Upgrade(int bootloader_generation, Bus &bus) {
  bus.receiver()->edit([&](ReceiverState &s) {
    s.bootloader = {uint8_t(bootloader_generation), 1, {3, 2, 23}};
  });
}

int UploadImage() {
  const std::vector<uint8_t> image =
      zk::virt::make_image({{3, 9, {12, 1, 26}}, 0, 0x39393939}, 12288);
  return zk_upgrade_fw_ext(image.data(), int(image.size()), ZK_VENDOR_ID, ZK_MANUFACTURER, nullptr,
                           nullptr);
}

// Deleting entry `index` of a full receiver: the size read (2), the entries
// behind it read (their bytes from the deleted one on), the bytes that
// change written, and the size's low byte written.
long DeleteMinimum(int index) {
  const int size = kMaxImageSize, destination = kHeaderSize + kEntrySize * index;
  const bool last = index == kFullReceiver - 1;
  long changed = 0;  // Fill's entries: every moved byte but the 0xA5 0x5A 0 middle differs
  for (int at = destination; at < size - kEntrySize; ++at) {
    const int offset = (at - kHeaderSize) % kEntrySize;
    if (offset == 0 || offset == 1 || offset == 5) ++changed;
  }
  return 2 + (last ? 0 : size - destination) + changed + 1;
}

#ifdef ZIRKO_BENCH_WINDOW
// Bounds the wait for the window's session; a connect that has not ended
// by then shows as a row far from its minimum.
constexpr int kConnectWaitMs = 60000;

// The desktop application's session, from its first poll until it shows
// the receiver as connected and the map read that connecting starts (off
// the window's thread) has ended.
void ConnectWindowSession() {
  zirko_interrupt worker;
  ReceiverSession session(&worker);
  session.poll();
  QDeadlineTimer deadline(kConnectWaitMs);
  while ((session.state() != ReceiverSession::State::kConnected || session.readingMap()) &&
         !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// What connecting needs: the version reply (the open; it picks the
// firmware's operations), the variant byte (which built-in firmware to
// compare with), the size header (2 bytes: a full map's size passes 255)
// and the 6 bytes of each entry. The receiver's state is first read on the
// next poll, and the settings bytes only by whoever shows them.
long ConnectMinimum(int buttons) {
  return 1 + 1 + 2 + long(kEntrySize) * buttons;
}

Row WindowConnect(int buttons) {
  return {"window connect, " + std::to_string(buttons) + " buttons", ConnectMinimum(buttons),
          [buttons](Bus &bus) {
            Fill(bus, buttons);
            zk_close_device();
          },
          ConnectWindowSession};
}
#endif

std::vector<Row> Rows(const std::string &config, const std::string &map) {
  auto open = [] { zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER); };
  auto full = [](Bus &bus) { Fill(bus, kFullReceiver); };
  auto full_with_map = [map](Bus &bus) {
    Fill(bus, kFullReceiver);
    Silence quiet;
    RunCommand("export " + map);
    zk_get_state();  // a request between, so the export's reads serve nothing
  };
  std::vector<Row> rows{
      {"delete_index, last of 169", DeleteMinimum(kFullReceiver - 1), full,
       [] { zk_delete_index(kFullReceiver - 1); }},
      {"delete_index 0 of 169", DeleteMinimum(0), full, [] { zk_delete_index(0); }},
      // Each deletion reads the size and writes its low byte; the high
      // byte changes three times on the way down (1019 to 5).
      {"delete all 169 by index, last first", 3L * kFullReceiver + 3, full,
       [] {
         for (int i = kFullReceiver - 1; i >= 0; --i) zk_delete_index(i);
       }},
      // The history keeps the whole image first (one read of each byte);
      // the hash shown and the deletion use that read; the size is written.
      {"zirko_util delete_index, last of 169", kMaxImageSize + 1, full,
       [] { RunCommand("delete_index " + std::to_string(kFullReceiver - 1)); }},
      // The image read once serves the history, the plan and the write,
      // which finds every byte in place.
      {"zirko_util import, 169 buttons, as exported", kMaxImageSize, full_with_map,
       [map] { RunCommand("import " + map); }},
      // The image, and the version text of the header: the version (with
      // its date) and the firmware's hash.
      {"zirko_util export, 169 buttons", kMaxImageSize + 2, full,
       [map] { RunCommand("export " + map); }},
      // The firmware's hash; the version comes from the open.
      {"zirko_util version", 1, [](Bus &) {}, [] { RunCommand("version"); }},
      {"loadconfig of the image on the receiver", kMaxImageSize,
       [config](Bus &bus) {
         Fill(bus, kFullReceiver);
         zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
         Silence quiet;
         zk_save_config(config.c_str());
         zk_get_state();  // a request between, so the save's reads serve nothing
       },
       [config] { zk_load_config(config.c_str()); }},
      {"upgrade, bootloader 1, 12 KB", 105, [](Bus &bus) { Upgrade(1, bus); },
       [] { UploadImage(); }},
      {"upgrade, bootloader 2, 12 KB", 204, [](Bus &bus) { Upgrade(2, bus); },
       [] { UploadImage(); }},
      {"open (scan and version)", 1, [](Bus &) { zk_close_device(); }, open},
      {"settings, empty receiver", 7, [](Bus &) {}, [] { RunCommand("settings"); }},
      {"space", 2, [](Bus &) {}, [] { RunCommand("space"); }},
      {"1000 opens with no receiver", 0,
       [](Bus &bus) {
         zk_close_device();
         bus.receiver()->unplug();
       },
       [] {
         for (int i = 0; i < 1000; ++i) zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
       }},
  };
#ifdef ZIRKO_BENCH_WINDOW
  rows.push_back(WindowConnect(kFullReceiver));
  rows.push_back(WindowConnect(0));
#endif
  return rows;
}

Result Measure(const Row &row, int latency_ms, int eeprom_write_ms) {
  Bus bus;
  bus.add_receiver(QuietState());
  zk::set_usb_backend(&bus);
  zk_open_device(ZK_VENDOR_ID, ZK_MANUFACTURER);
  row.arrange(bus);
  bus.clear_transcript();
  bus.set_latency(std::chrono::milliseconds(latency_ms));
  const auto start = std::chrono::steady_clock::now();
  {
    Silence quiet;
    row.run();
  }
  Result result;
  result.wall_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  for (const zk::virt::Transfer &t : bus.transcript()) {
    ++result.transfers;
    if (t.request_type == 0xC2 && t.request == 3 /* EEPROM write */ && t.result >= 0)
      ++result.eeprom_writes;
  }
  // The EEPROM's own write time, which the bus does not model.
  result.wall_ms += double(result.eeprom_writes) * eeprom_write_ms;
  bus.set_latency(std::chrono::milliseconds(0));
  zk_close_device();
  zk::set_usb_backend(nullptr);
  return result;
}

int Usage() {
  fprintf(stderr, "usage: zirko-bench [--latency MS] [--eeprom-write MS]\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
#ifdef ZIRKO_BENCH_WINDOW
  // The window's session runs its map read on a thread of its own and
  // hears of its end through the event loop; no window is drawn.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication app(argc, argv);
#endif
  int latency_ms = 1;
  int eeprom_write_ms = 0;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (strcmp(argv[i], "--latency") == 0 && has_value) {
      latency_ms = atoi(argv[++i]);
    } else if (strcmp(argv[i], "--eeprom-write") == 0 && has_value) {
      eeprom_write_ms = atoi(argv[++i]);
    } else {
      return Usage();
    }
  }
  if (latency_ms < 0 || latency_ms > 100 || eeprom_write_ms < 0 || eeprom_write_ms > 100)
    return Usage();
  const std::string base = "/tmp/zirko-bench-" + std::to_string(getpid());
  const std::string config = base + ".zcfg", map = base + ".zmap";
  // The history the commands keep goes to a folder of the bench's own.
  char state_home[] = "/tmp/zirko-bench-state-XXXXXX";
  if (!mkdtemp(state_home)) {
    perror("zirko-bench: mkdtemp");
    return 1;
  }
  setenv("XDG_STATE_HOME", state_home, 1);
  printf("Latency %d ms per transfer, %d ms per EEPROM byte written\n\n", latency_ms,
         eeprom_write_ms);
  printf("| Operation | Transfers | EEPROM writes | Wall time | Minimum | Ratio |\n");
  printf("|---|---|---|---|---|---|\n");
  for (const Row &row : Rows(config, map)) {
    const Result r = Measure(row, latency_ms, eeprom_write_ms);
    const std::string ratio =
        row.minimum ? std::to_string(double(r.transfers) / double(row.minimum)).substr(0, 4) : "-";
    printf("| %s | %zu | %zu | %.1f ms | %ld | %s |\n", row.operation.c_str(), r.transfers,
           r.eeprom_writes, r.wall_ms, row.minimum, ratio.c_str());
  }
  unlink(config.c_str());
  unlink(map.c_str());
  const std::string remove = std::string("rm -rf '") + state_home + "'";
  return system(remove.c_str()) == 0 ? 0 : 1;
}
