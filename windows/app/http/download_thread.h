// The ranking request's worker: one HTTP request on a thread of its own,
// whose result reaches the main thread through synchronised calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/http_client.h"
#include "message_window.h"

namespace zt::win {

// Runs a call on the main thread and returns when it has run there.
class Synchronizer {
 public:
  virtual ~Synchronizer() = default;
  virtual void synchronize(const std::function<void()>& call) = 0;
};

// The main thread's hidden window: a worker's call is sent to it and runs
// when the main thread's message loop takes it.
class WindowSynchronizer final : public Synchronizer {
 public:
  WindowSynchronizer();
  void synchronize(const std::function<void()>& call) override;

 private:
  static constexpr UINT kCallMessage = WM_APP + 0x51;
  MessageWindow window_;
};

class THTTPDownloadThread {
 public:
  using Event = std::function<void(THTTPDownloadThread& sender)>;
  using ProgressEvent = std::function<void(THTTPDownloadThread& sender, std::int32_t count)>;
  static constexpr std::int32_t ProgressStep = 1024;

  // Made suspended; Resume starts it.
  THTTPDownloadThread(std::string host, std::string path, std::string body, Synchronizer& sync);

  // Starts the thread, which owns the request from then on and frees it after
  // its last event.
  static void Resume(std::unique_ptr<THTTPDownloadThread> self);

  // The thread's work: the request, then OnComplete or OnError on the main
  // thread. Every failure ends in OnError, so a sender waiting for one of the
  // two is never left waiting.
  void Execute();
  // The client's work event: progress while reading, in steps of ProgressStep.
  void DoWork(http::WorkMode mode, std::int64_t count);

  std::string Host;
  std::string Path;
  std::string Body;
  std::string ProxyServer;
  std::int32_t ProxyPort = 0;
  std::uint16_t Port = 80;  // the ranking server's port; tests point it at a local server
  // The whole request's time; tests shorten it.
  std::int32_t DeadlineMs = http::kRequestDeadlineMs;
  std::string Response;
  std::string ErrorMessage;
  Event OnComplete;
  Event OnError;
  ProgressEvent OnProgress;

 private:
  Synchronizer& sync_;
  std::int32_t current_count_ = 0;
  std::int32_t previous_count_ = 0;
};

}  // namespace zt::win
