// tindrel-webview: the editor's web view in a process of its own. The
// plug-in starts it with one end of a socket on kWebViewSocketFd and sends
// an open frame: the host's X11 window, the size and the UI root. The
// program puts a GtkPlug on that window with a WebKitGTK view in it, serves
// the page from the root under the private scheme, injects the page's
// message port at document start and relays both ways: the page's posts as
// page-message frames, the controller's messages (deliver frames) evaluated
// in the page. A park frame takes the page out of the host's window (the
// window goes away next), loads it afresh and holds what it posts until the
// next open frame shows it in another window. The program ends on a close
// frame, when the socket closes, when the host's window goes away under a
// page that was not parked, when it stays parked too long, and when
// anything it needs fails (after a failed frame saying why).
#include <fcntl.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <gtk/gtkx.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <webkit2/webkit2.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "editor/editor_page.h"
#include "editor/editor_wire.h"
#include "platform/files.h"

namespace {

using namespace norva;

constexpr const char kPrefix[] = "tindrel-webview: ";
// The largest page file served.
constexpr size_t kMaxServedFile = size_t(256) << 20;
constexpr size_t kReadPiece = 65536;
// How long a failure report may take to leave before the program ends.
constexpr int kLastWordSeconds = 1;
// A parked program the plug-in never comes back for ends itself after this
// long (the plug-in closes it sooner, kWebViewSpareMs, where its run loop
// allows); and holds at most this many page messages meanwhile.
constexpr guint kParkedLimitSeconds = 120;
constexpr size_t kParkedMessageLimit = 64;

struct Program {
  int socket = kWebViewSocketFd;
  EditorFrameReader reader;
  std::string outbound;
  guint writeWatch = 0;
  std::string root;
  GtkWidget *plug = nullptr;
  WebKitWebView *view = nullptr;
  // Parked: the page is out of any window; what it posts once its fresh
  // load has committed is held for the next open.
  bool parked = false;
  bool freshPage = false;
  std::vector<std::string> held;
  guint parkedLimit = 0;
};

Program &program() {
  static Program state;
  return state;
}

void say(const std::string &line) { std::fprintf(stderr, "%s%s\n", kPrefix, line.c_str()); }

// Ends at once: nothing the program holds needs tearing down, and the
// toolkit's own teardown is the slow part of closing.
[[noreturn]] void end(int status) {
  std::fflush(stderr);
  ::_exit(status);
}

// Writes what the queue holds as far as the socket takes it; false when
// the socket is gone.
bool writeQueued() {
  Program &p = program();
  size_t sent = 0;
  while (sent < p.outbound.size()) {
    const ssize_t n = ::send(p.socket, p.outbound.data() + sent, p.outbound.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      return false;
    }
  }
  p.outbound.erase(0, sent);
  return true;
}

gboolean onWritable(gint, GIOCondition, gpointer) {
  Program &p = program();
  if (!writeQueued()) end(0);  // the plug-in is gone
  if (!p.outbound.empty()) return G_SOURCE_CONTINUE;
  p.writeWatch = 0;
  return G_SOURCE_REMOVE;
}

void sendFrame(EditorFrameKind kind, std::string_view payload) {
  Program &p = program();
  if (!appendEditorFrame(p.outbound, kind, payload)) {
    say("a page message longer than the wire's limit was dropped");
    return;
  }
  if (!writeQueued()) end(0);
  if (!p.outbound.empty() && p.writeWatch == 0) p.writeWatch = g_unix_fd_add(p.socket, G_IO_OUT, onWritable, nullptr);
}

// Tells the plug-in why the page cannot be shown, waits a moment for the
// words to leave, and ends.
[[noreturn]] void fail(const std::string &reason) {
  say(reason);
  Program &p = program();
  appendEditorFrame(p.outbound, EditorFrameKind::failed, reason);
  const int flags = ::fcntl(p.socket, F_GETFL);
  ::fcntl(p.socket, F_SETFL, flags & ~O_NONBLOCK);
  const timeval limit{kLastWordSeconds, 0};
  ::setsockopt(p.socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  writeQueued();
  end(1);
}

// --- the page's files ------------------------------------------------------------------------------

void serveRequest(WebKitURISchemeRequest *request, gpointer) {
  const char *path = webkit_uri_scheme_request_get_path(request);
  std::string file;
  auto bytes = new std::vector<uint8_t>();
  if (!resolveUiRequest(program().root, path != nullptr ? path : "", file) ||
      readFileLimited(file, kMaxServedFile, *bytes) != FileReadStatus::ok) {
    delete bytes;
    GError *error = g_error_new_literal(WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST,
                                        "file does not exist");
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  const gint64 size = gint64(bytes->size());
  GBytes *data = g_bytes_new_with_free_func(bytes->data(), bytes->size(),
                                            [](gpointer held) { delete static_cast<std::vector<uint8_t> *>(held); },
                                            bytes);
  GInputStream *stream = g_memory_input_stream_new_from_bytes(data);
  WebKitURISchemeResponse *response = webkit_uri_scheme_response_new(stream, size);
  webkit_uri_scheme_response_set_content_type(response, uiContentType(file).c_str());
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
  g_bytes_unref(data);
}

// --- the page's messages ---------------------------------------------------------------------------

void onScriptMessage(WebKitUserContentManager *, WebKitJavascriptResult *result, gpointer) {
  JSCValue *value = webkit_javascript_result_get_js_value(result);
  if (value == nullptr || !jsc_value_is_string(value)) return;
  gchar *text = jsc_value_to_string(value);
  Program &p = program();
  if (text != nullptr && text[0] != '\0') {
    if (!p.parked) {
      sendFrame(EditorFrameKind::pageMessage, std::string_view(text));
    } else if (p.freshPage) {
      if (p.held.size() >= kParkedMessageLimit) end(0);  // a page that will not wait is of no use parked
      p.held.emplace_back(text);
    }
  }
  g_free(text);
}

void deliver(const std::string &text) {
  WebKitWebView *view = program().view;
  if (view == nullptr || !g_utf8_validate(text.data(), gssize(text.size()), nullptr)) return;
  const std::string script = uiDeliveryScript(text);
  webkit_web_view_evaluate_javascript(view, script.data(), gssize(script.size()), nullptr, nullptr, nullptr, nullptr,
                                      nullptr);
}

void onWebProcessGone(WebKitWebView *, WebKitWebProcessTerminationReason reason, gpointer) {
  fail(reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "the page's web process ran out of memory"
                                                          : "the page's web process ended");
}

void onLoadChanged(WebKitWebView *, WebKitLoadEvent event, gpointer) {
  if (event == WEBKIT_LOAD_COMMITTED) program().freshPage = true;
}

gboolean onLoadFailed(WebKitWebView *, WebKitLoadEvent, gchar *uri, GError *error, gpointer) {
  if (!g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
    say(std::string("cannot load ") + (uri != nullptr ? uri : "the page") + ": " + error->message);
  return FALSE;
}

// --- the window ------------------------------------------------------------------------------------

void onPlugGone(GtkWidget *, gpointer) { end(0); }

void resize(GtkWidget *plug, int width, int height) {
  gtk_window_resize(GTK_WINDOW(plug), width, height);
  if (GdkWindow *window = gtk_widget_get_window(plug)) gdk_window_resize(window, width, height);
}

void load(const std::string &root) {
  Program &p = program();
  p.root = root;
  p.freshPage = false;
  webkit_web_view_load_uri(p.view, uiStartUrl(root).c_str());
}

void makeView() {
  Program &p = program();

  WebKitWebContext *context = webkit_web_context_new_ephemeral();
  webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  webkit_web_context_register_uri_scheme(context, kUiScheme, serveRequest, nullptr, nullptr);
  webkit_security_manager_register_uri_scheme_as_secure(webkit_web_context_get_security_manager(context), kUiScheme);

  WebKitUserContentManager *content = webkit_user_content_manager_new();
  const std::string signal = std::string("script-message-received::") + kUiMessageHandler;
  g_signal_connect(content, signal.c_str(), G_CALLBACK(onScriptMessage), nullptr);
  if (!webkit_user_content_manager_register_script_message_handler(content, kUiMessageHandler))
    fail("cannot register the page's message handler");
  WebKitUserScript *script = webkit_user_script_new(kUiInjectedScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                    WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);

  GtkWidget *view =
      GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "user-content-manager", content, nullptr));
  g_object_unref(content);
  g_object_unref(context);
  if (view == nullptr) fail("cannot make the web view");
  p.view = WEBKIT_WEB_VIEW(view);
  // The program holds the view, in a window or parked.
  g_object_ref_sink(view);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(onWebProcessGone), nullptr);
  g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), nullptr);
  g_signal_connect(view, "load-failed", G_CALLBACK(onLoadFailed), nullptr);
}

// Shows the view in a plug on the host's window.
void embed(const EditorOpenRequest &request) {
  Program &p = program();
  // The host's window is no XEMBED embedder: nobody maps the plug but us.
  GtkWidget *plug = gtk_plug_new(static_cast<Window>(request.window));
  if (plug == nullptr || gtk_plug_get_socket_window(GTK_PLUG(plug)) == nullptr)
    fail("the host's window " + std::to_string(request.window) + " does not exist");
  p.plug = plug;
  g_signal_connect(plug, "destroy", G_CALLBACK(onPlugGone), nullptr);
  gtk_window_set_default_size(GTK_WINDOW(plug), request.width, request.height);
  gtk_container_add(GTK_CONTAINER(plug), GTK_WIDGET(p.view));
  gtk_widget_show_all(plug);
  gtk_widget_realize(plug);
  GdkWindow *window = gtk_widget_get_window(plug);
  if (window == nullptr) fail("cannot make the plug's window");
  gdk_window_move_resize(window, 0, 0, request.width, request.height);
  gdk_window_show(window);
}

void open(const EditorOpenRequest &request) {
  Program &p = program();
  if (p.view == nullptr) {
    makeView();
    load(request.root);
  } else if (request.root != p.root) {
    p.held.clear();
    load(request.root);
  }
  embed(request);
  if (!p.parked) return;
  p.parked = false;
  g_source_remove(p.parkedLimit);
  p.parkedLimit = 0;
  for (const std::string &text : p.held) sendFrame(EditorFrameKind::pageMessage, text);
  p.held.clear();
}

// Takes the view out of the plug and lets the plug go before the host's
// window does (which would take the plug with it), then loads the page
// afresh for the next open and says so.
void park() {
  Program &p = program();
  g_signal_handlers_disconnect_by_func(p.plug, reinterpret_cast<gpointer>(onPlugGone), nullptr);
  gtk_container_remove(GTK_CONTAINER(p.plug), GTK_WIDGET(p.view));
  gtk_widget_destroy(p.plug);
  p.plug = nullptr;
  gdk_display_sync(gdk_display_get_default());
  p.parked = true;
  p.held.clear();
  load(p.root);
  p.parkedLimit = g_timeout_add_seconds(kParkedLimitSeconds, [](gpointer) -> gboolean { end(0); }, nullptr);
  sendFrame(EditorFrameKind::parked, {});
}

// --- the plug-in's frames --------------------------------------------------------------------------

void handle(const EditorFrame &frame) {
  Program &p = program();
  switch (frame.kind) {
  case EditorFrameKind::open: {
    EditorOpenRequest request;
    if (p.plug != nullptr) fail("an open frame for a page that is open");
    if (!decodeEditorOpen(frame.payload, request)) fail("an open frame that does not read");
    open(request);
    return;
  }
  case EditorFrameKind::park:
    if (p.plug == nullptr) fail("a park frame for a page that is not open");
    park();
    return;
  case EditorFrameKind::deliver: deliver(frame.payload); return;
  case EditorFrameKind::resize: {
    EditorResize size;
    if (!decodeEditorResize(frame.payload, size)) fail("a resize frame that does not read");
    if (p.plug != nullptr) resize(p.plug, size.width, size.height);
    return;
  }
  case EditorFrameKind::close: end(0);
  case EditorFrameKind::pageMessage:
  case EditorFrameKind::failed:
  case EditorFrameKind::parked: break;
  }
  fail("a frame meant for the plug-in");
}

gboolean onReadable(gint, GIOCondition, gpointer) {
  Program &p = program();
  char piece[kReadPiece];
  for (;;) {
    const ssize_t got = ::recv(p.socket, piece, sizeof piece, 0);
    if (got > 0) {
      p.reader.feed(piece, size_t(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    end(0);  // the plug-in closed its end, or the socket failed: either way it is gone
  }
  EditorFrame frame;
  for (;;) {
    const EditorFrameReader::Result status = p.reader.next(frame);
    if (status == EditorFrameReader::Result::needMore) break;
    if (status == EditorFrameReader::Result::refused) fail(std::string("the plug-in sent ") + p.reader.error());
    handle(frame);
  }
  return G_SOURCE_CONTINUE;
}

// The host's window may go away under the plug at any time: X errors are
// expected here and never fatal. A lost display connection ends the program.
int onXError(Display *, XErrorEvent *) { return 0; }
int onXConnectionLost(Display *) { end(0); }

} // namespace

int main() {
  struct stat socketStatus {};
  if (::fstat(kWebViewSocketFd, &socketStatus) != 0 || !S_ISSOCK(socketStatus.st_mode)) {
    say("the Tindrel plug-in starts this program for its editor; it does not run on its own");
    return 2;
  }
  // Only the socket and the standard streams come along; nothing this
  // program starts (WebKit's processes) inherits the socket, so the plug-in
  // sees it close when this program ends.
  ::close_range(kWebViewSocketFd + 1, ~0U, 0);
  ::fcntl(kWebViewSocketFd, F_SETFD, FD_CLOEXEC);
  ::fcntl(kWebViewSocketFd, F_SETFL, ::fcntl(kWebViewSocketFd, F_GETFL) | O_NONBLOCK);
  ::signal(SIGPIPE, SIG_IGN);

  // Accelerated compositing costs the page's web process some 80 MB more and
  // gains an editor page nothing.
  ::setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(nullptr, nullptr)) fail("cannot open the X display");
  XSetErrorHandler(onXError);
  XSetIOErrorHandler(onXConnectionLost);

  g_unix_fd_add(kWebViewSocketFd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), onReadable, nullptr);
  gtk_main();
  return 0;
}
