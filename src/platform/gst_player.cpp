#include "platform/gst_player.h"

#include <cstdlib>
#include <cstring>

#include "platform/shared_library.h"

namespace {

// The few GStreamer and GLib types and values used, as the libraries define
// them; the headers are not needed for calls made through dlsym.
struct GError {
  uint32_t domain;
  int code;
  char* message;
};
using GstElement = void;
using GstBus = void;
using GstMessage = void;
constexpr int kStateNull = 1;
constexpr int kStatePaused = 3;
constexpr int kStatePlaying = 4;
constexpr int kStateChangeFailure = 0;
constexpr unsigned kMessageEos = 1u << 0;
constexpr unsigned kMessageError = 1u << 1;
constexpr int kFormatTime = 3;
constexpr int kSeekFlush = 1 << 0;
constexpr int kSeekKeyUnit = 1 << 2;
constexpr uint64_t kClockTimeNone = ~uint64_t{0};
// How long a change of state may take before it counts as under way (a file
// that takes longer to start is not refused), in nanoseconds.
constexpr uint64_t kStateChangeWait = 10'000'000'000;

struct TGstApi {
  int (*init_check)(int*, char***, GError**);
  GstElement* (*element_factory_make)(const char*, const char*);
  int (*element_set_state)(GstElement*, int);
  int (*element_get_state)(GstElement*, int*, int*, uint64_t);
  GstBus* (*element_get_bus)(GstElement*);
  int (*element_seek_simple)(GstElement*, int, int, int64_t);
  GstMessage* (*bus_timed_pop_filtered)(GstBus*, uint64_t, unsigned);
  void (*message_parse_error)(GstMessage*, GError**, char**);
  const void* (*message_get_structure)(GstMessage*);
  void (*mini_object_unref)(void*);
  void (*object_unref)(void*);
  char* (*filename_to_uri)(const char*, GError**);
  void (*g_object_set)(void*, const char*, ...);
  void (*g_error_free)(GError*);
  void (*g_free)(void*);
  void (*set_window_handle)(void*, uintptr_t);
  std::string error;
};

// Loads GStreamer once; the libraries stay for the rest of the process.
const TGstApi& GstApi() {
  static const TGstApi api = [] {
    TGstApi loaded{};
    static TSharedLibrary gst("libgstreamer-1.0.so.0");
    static TSharedLibrary video("libgstvideo-1.0.so.0");
    static TSharedLibrary gobject("libgobject-2.0.so.0");
    static TSharedLibrary glib("libglib-2.0.so.0");
    gst.Bind(loaded.init_check, "gst_init_check");
    gst.Bind(loaded.element_factory_make, "gst_element_factory_make");
    gst.Bind(loaded.element_set_state, "gst_element_set_state");
    gst.Bind(loaded.element_get_state, "gst_element_get_state");
    gst.Bind(loaded.element_get_bus, "gst_element_get_bus");
    gst.Bind(loaded.element_seek_simple, "gst_element_seek_simple");
    gst.Bind(loaded.bus_timed_pop_filtered, "gst_bus_timed_pop_filtered");
    gst.Bind(loaded.message_parse_error, "gst_message_parse_error");
    gst.Bind(loaded.message_get_structure, "gst_message_get_structure");
    gst.Bind(loaded.mini_object_unref, "gst_mini_object_unref");
    gst.Bind(loaded.object_unref, "gst_object_unref");
    gst.Bind(loaded.filename_to_uri, "gst_filename_to_uri");
    video.Bind(loaded.set_window_handle, "gst_video_overlay_set_window_handle");
    gobject.Bind(loaded.g_object_set, "g_object_set");
    glib.Bind(loaded.g_error_free, "g_error_free");
    glib.Bind(loaded.g_free, "g_free");
    for (const TSharedLibrary* library : {&gst, &video, &gobject, &glib})
      if (!library->Ok() && loaded.error.empty()) loaded.error = library->Error();
    if (loaded.error.empty() && !loaded.init_check(nullptr, nullptr, nullptr)) loaded.error = "GStreamer did not start";
    return loaded;
  }();
  return api;
}

// Takes a GLib error's text and frees it.
std::string TakeMessage(const TGstApi& api, GError* error, const char* otherwise) {
  if (!error) return otherwise;
  std::string text = error->message ? error->message : otherwise;
  api.g_error_free(error);
  return text;
}

class TGstPlayer : public TMediaPlayer {
public:
  TGstPlayer(const TGstApi& api, uintptr_t videoWindow) : m_api(api), m_videoWindow(videoWindow) {}
  ~TGstPlayer() override {
    if (!m_playbin) return;
    m_api.element_set_state(m_playbin, kStateNull);
    m_api.object_unref(m_bus);
    m_api.object_unref(m_playbin);
  }

  bool Open(const std::string& path, std::string& error) override {
    GError* uriError = nullptr;
    char* uri = m_api.filename_to_uri(path.c_str(), &uriError);
    if (!uri) {
      error = TakeMessage(m_api, uriError, "The file name cannot be used.");
      return false;
    }
    m_playbin = m_api.element_factory_make("playbin", nullptr);
    if (!m_playbin) {
      m_api.g_free(uri);
      error = "GStreamer has no playbin (gstreamer1.0-plugins-base is missing)";
      return false;
    }
    m_api.g_object_set(m_playbin, "uri", uri, nullptr);
    m_api.g_free(uri);
    m_bus = m_api.element_get_bus(m_playbin);
    const char* sink = std::getenv("ZERBALIN_MEDIA_SINK");
    if (sink && std::strcmp(sink, "fake") == 0) {
      m_api.g_object_set(m_playbin, "audio-sink", m_api.element_factory_make("fakesink", nullptr), nullptr);
      m_api.g_object_set(m_playbin, "video-sink", m_api.element_factory_make("fakesink", nullptr), nullptr);
    } else if (m_videoWindow) {
      m_api.set_window_handle(m_playbin, m_videoWindow);
    }
    // Going to paused reads the file far enough to know that it plays.
    return ChangeState(kStatePaused, error);
  }

  bool Play(std::string& error) override { return ChangeState(kStatePlaying, error); }

  bool Rewind(std::string& error) override {
    if (!ChangeState(kStatePaused, error)) return false;
    if (m_api.element_seek_simple(m_playbin, kFormatTime, kSeekFlush | kSeekKeyUnit, 0)) return true;
    error = "The file cannot be played from its start.";
    return false;
  }

  bool WaitForEnd(std::string& error) override {
    const std::optional<bool> end = NextEnd(true, error);
    return end && *end;
  }

  std::optional<bool> TakeEnd(std::string& error) override { return NextEnd(false, error); }

  void SetVolume(double level) override { m_api.g_object_set(m_playbin, "volume", level, nullptr); }

private:
  bool ChangeState(int state, std::string& error) {
    if (m_api.element_set_state(m_playbin, state) != kStateChangeFailure &&
        m_api.element_get_state(m_playbin, nullptr, nullptr, kStateChangeWait) != kStateChangeFailure)
      return true;
    std::optional<bool> end = NextEnd(false, error);
    if (!end || *end) error = "The file cannot be played.";
    return false;
  }

  // The next end of file (true) or error (false) on the bus; nullopt when
  // none has come. With wait, comes back only with one of them. (The bus
  // drops the messages a look filters out, so both are looked for at once;
  // an end of file carries no details, an error does.)
  std::optional<bool> NextEnd(bool wait, std::string& error) {
    GstMessage* message = m_api.bus_timed_pop_filtered(m_bus, wait ? kClockTimeNone : 0, kMessageEos | kMessageError);
    if (!message) return std::nullopt;
    const bool ended = m_api.message_get_structure(message) == nullptr;
    GError* failure = nullptr;
    if (!ended) m_api.message_parse_error(message, &failure, nullptr);
    m_api.mini_object_unref(message);
    if (!ended) error = TakeMessage(m_api, failure, "The file cannot be played.");
    return ended;
  }

  const TGstApi& m_api;
  uintptr_t m_videoWindow;
  GstElement* m_playbin = nullptr;
  GstBus* m_bus = nullptr;
};

} // namespace

std::unique_ptr<TMediaPlayer> NewGstPlayer(uintptr_t videoWindow, std::string& error) {
  const TGstApi& api = GstApi();
  if (!api.error.empty()) {
    error = api.error;
    return nullptr;
  }
  return std::make_unique<TGstPlayer>(api, videoWindow);
}
