#include "http/download_thread.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <thread>
#include <utility>

namespace zt::win {

WindowSynchronizer::WindowSynchronizer()
    : window_([](UINT message, WPARAM, LPARAM lparam, LRESULT& result) {
        if (message != kCallMessage) return false;
        (*reinterpret_cast<const std::function<void()>*>(lparam))();
        result = 0;
        return true;
      }) {}

void WindowSynchronizer::synchronize(const std::function<void()>& call) {
  // SendMessage from another thread waits until the window's thread has run it.
  SendMessageW(window_.hwnd(), kCallMessage, 0, reinterpret_cast<LPARAM>(&call));
}

THTTPDownloadThread::THTTPDownloadThread(std::string host, std::string path, std::string body,
                                         Synchronizer& sync)
    : Host(std::move(host)), Path(std::move(path)), Body(std::move(body)), sync_(sync) {}

void THTTPDownloadThread::Resume(std::unique_ptr<THTTPDownloadThread> self) {
  std::thread([request = std::move(self)] { request->Execute(); }).detach();
}

void THTTPDownloadThread::Execute() {
  http::Reply reply;
  try {
    http::Request request;
    request.host = Host;
    request.port = Port;
    request.path = Path;
    if (!Body.empty()) request.body = Body;
    request.proxy_server = ProxyServer;
    request.proxy_port = static_cast<std::uint16_t>(std::clamp<std::int32_t>(ProxyPort, 0, 65535));
    request.deadline_ms = DeadlineMs;
    reply = http::perform(request,
                          [this](http::WorkMode mode, std::int64_t count) { DoWork(mode, count); });
  } catch (const std::exception& e) {
    reply = http::Reply{};
    reply.error = e.what();
  }
  if (reply.ok) {
    Response = std::move(reply.content);
    if (OnComplete) sync_.synchronize([this] { OnComplete(*this); });
  } else {
    ErrorMessage = std::move(reply.error);
    if (OnError) sync_.synchronize([this] { OnError(*this); });
  }
}

void THTTPDownloadThread::DoWork(http::WorkMode mode, std::int64_t count) {
  if (mode == http::WorkMode::kRead) {
    current_count_ = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(count, 0, std::numeric_limits<std::int32_t>::max()));
  }
  if (current_count_ / ProgressStep != previous_count_ / ProgressStep) {
    if (OnProgress) {
      const std::int32_t n = current_count_;
      sync_.synchronize([this, n] { OnProgress(*this, n); });
    }
    previous_count_ = current_count_;
  }
}

}  // namespace zt::win
