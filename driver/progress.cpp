#include "driver/progress.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "runtime/report.hpp"
#include "runtime/settings.hpp"

namespace blockeig {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto quiet_period = std::chrono::milliseconds(500);
constexpr auto redraw_period = std::chrono::milliseconds(250);

class ProgressLine {
 public:
  static ProgressLine& instance() {
    static ProgressLine line;
    return line;
  }

  void show(std::string_view label) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    if (!active_) started_ = Clock::now();
    active_ = true;
    label_length_ = std::min(label.size(), sizeof label_);
    std::memcpy(label_, label.data(), label_length_);
    if (!ticker_.joinable()) start_ticker();
  }

  void hide() {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    active_ = false;
    erase();
  }

  ~ProgressLine() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      active_ = false;
      erase();
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
  }

 private:
  ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1 && runtime::settings().progress) {
    if (enabled_) runtime::set_before_report(erase_for_report);
  }

  // The line is a courtesy: a platform that refuses its thread costs the
  // line for the rest of the run, never the run itself.
  void start_ticker() {
    try {
      ticker_ = std::thread([this] { tick(); });
    } catch (const std::system_error&) {
      enabled_ = false;
      active_ = false;
    }
  }

  // A report is about to be written, perhaps from a signal handler while the
  // ticker holds the lock: erase without locking.
  static void erase_for_report() {
    if (on_screen.exchange(false)) put("\r\033[K");
  }

  void tick() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      wake_.wait_for(lock, redraw_period);
      if (active_ && Clock::now() - started_ >= quiet_period) draw();
    }
  }

  void draw() {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count();
    constexpr std::string_view lead = "\r\033[Kblockeig: ";
    char text[lead.size() + sizeof label_ + 32];
    char* end = std::copy(lead.begin(), lead.end(), text);
    end = std::copy(label_, label_ + label_length_, end);
    end = std::copy_n(" (", 2, end);
    end = std::to_chars(end, text + sizeof text, seconds).ptr;
    end = std::copy_n(" s)", 3, end);
    put({text, static_cast<std::size_t>(end - text)});
    on_screen = true;
  }

  void erase() {
    if (on_screen.exchange(false)) put("\r\033[K");
  }

  static void put(std::string_view text) {
    if (::write(STDERR_FILENO, text.data(), text.size()) < 0) {
      // A refused progress line is of no consequence.
    }
  }

  bool enabled_;  // read and cleared by the main thread only
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread ticker_;
  Clock::time_point started_;
  char label_[95];
  std::size_t label_length_ = 0;
  static inline std::atomic<bool> on_screen{false};
  bool active_ = false;
  bool stopping_ = false;
};

}  // namespace

void progress_show(std::string_view label) { ProgressLine::instance().show(label); }
void progress_hide() { ProgressLine::instance().hide(); }

}  // namespace blockeig
