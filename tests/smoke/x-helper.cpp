// What the smoke tests and the benchmark in a real X server need from X11 that
// no packaged tool does:
//
//   x-helper silent-owner   takes the clipboard and the primary selection
//                           and never answers a question about them, as a
//                           hung program would; prints a line "question
//                           SELECTION TARGET" (CLIPBOARD or PRIMARY) for each
//                           question, at once. Runs until killed.
//   x-helper ping WINDOW    sends the window's program a _NET_WM_PING and
//                           waits (at most 20 s) for the answer, which it
//                           gives once it has handled every event it had
//                           before: a barrier for "it has seen everything".
//                           Fails at once if the window is gone.
//   x-helper pinger WINDOW  the same, as often as asked, on one connection:
//                           for each line "ping MILLISECONDS" on its input it
//                           pings, waits at most that long and prints one
//                           line, "answered LATENCY_MS", "timeout" or "gone".
//                           Ends at the end of its input.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <xcb/xcb.h>

namespace {

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

std::string AtomName(xcb_connection_t* connection, xcb_atom_t atom) {
    xcb_get_atom_name_reply_t* reply =
        xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr);
    std::string name;
    if (reply)
        name.assign(xcb_get_atom_name_name(reply), size_t(xcb_get_atom_name_name_length(reply)));
    std::free(reply);
    return name;
}

bool TakeSelection(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t selection) {
    xcb_set_selection_owner(connection, window, selection, XCB_CURRENT_TIME);
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owns = owner && owner->owner == window;
    std::free(owner);
    return owns;
}

int SilentOwner(xcb_connection_t* connection, const xcb_screen_t* screen) {
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (!TakeSelection(connection, window, InternAtom(connection, "CLIPBOARD")) ||
        !TakeSelection(connection, window, XCB_ATOM_PRIMARY)) {
        std::fprintf(stderr, "x-helper: could not take the clipboard and the selection\n");
        return 1;
    }
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
            std::printf("question %s %s\n", AtomName(connection, request->selection).c_str(),
                        AtomName(connection, request->target).c_str());
            std::fflush(stdout);
        }
        std::free(event);
    }
    return 0;
}

enum class Answer { answered, timeout, gone };

// One round trip: sends the window's program a ping and waits for its answer
// until the deadline.
class Pinger {
  public:
    Pinger(xcb_connection_t* connection, const xcb_screen_t* screen, xcb_window_t window)
        : connection(connection), window(window) {
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
        protocols = InternAtom(connection, "WM_PROTOCOLS");
        ping = InternAtom(connection, "_NET_WM_PING");
    }

    Answer Ping(std::chrono::steady_clock::time_point deadline) {
        // The answer carries back the timestamp we send; this one is ours
        // alone, and a late answer to an earlier ping never passes for it.
        const uint32_t stamp =
            uint32_t(std::chrono::steady_clock::now().time_since_epoch().count());
        xcb_client_message_event_t message = {};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = protocols;
        message.data.data32[0] = ping;
        message.data.data32[1] = stamp;
        message.data.data32[2] = window;
        xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection);

        pollfd descriptor = {xcb_get_file_descriptor(connection), POLLIN, 0};
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                // The only request that can fail is the ping: the window is gone.
                if (event->response_type == 0) {
                    std::free(event);
                    return Answer::gone;
                }
                const auto* answer = reinterpret_cast<xcb_client_message_event_t*>(event);
                const bool answered = (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                                      answer->type == protocols && answer->data.data32[0] == ping &&
                                      answer->data.data32[1] == stamp &&
                                      answer->data.data32[2] == window;
                std::free(event);
                if (answered)
                    return Answer::answered;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (xcb_connection_has_error(connection) || left.count() <= 0)
                return Answer::timeout;
            ::poll(&descriptor, 1, int(std::min<int64_t>(left.count() + 1, 100)));
        }
    }

  private:
    xcb_connection_t* connection;
    xcb_window_t window;
    xcb_atom_t protocols;
    xcb_atom_t ping;
};

int PingOnce(Pinger& pinger, xcb_window_t window) {
    switch (pinger.Ping(std::chrono::steady_clock::now() + std::chrono::seconds(20))) {
    case Answer::answered:
        return 0;
    case Answer::gone:
        std::fprintf(stderr, "x-helper: window 0x%x is gone\n", window);
        return 1;
    case Answer::timeout:
        break;
    }
    std::fprintf(stderr, "x-helper: window 0x%x did not answer the ping\n", window);
    return 1;
}

// Pings on request; the latency runs from the ping's sending to its answer.
int PingOnRequest(Pinger& pinger) {
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        long milliseconds = 0;
        if (std::sscanf(line, "ping %ld", &milliseconds) != 1 || milliseconds <= 0) {
            std::printf("bad request\n");
            std::fflush(stdout);
            continue;
        }
        const auto sent = std::chrono::steady_clock::now();
        const Answer answer = pinger.Ping(sent + std::chrono::milliseconds(milliseconds));
        const std::chrono::duration<double, std::milli> latency =
            std::chrono::steady_clock::now() - sent;
        if (answer == Answer::answered)
            std::printf("answered %.3f\n", latency.count());
        else
            std::printf("%s\n", answer == Answer::gone ? "gone" : "timeout");
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (!(command == "silent-owner" && argc == 2) &&
        !((command == "ping" || command == "pinger") && argc == 3)) {
        std::fprintf(
            stderr,
            "usage: x-helper silent-owner | x-helper ping WINDOW | x-helper pinger WINDOW\n");
        return 2;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "x-helper: no X display\n");
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    int status;
    if (command == "silent-owner") {
        status = SilentOwner(connection, screen);
    } else {
        const auto window = xcb_window_t(std::strtoul(argv[2], nullptr, 0));
        Pinger pinger(connection, screen, window);
        status = command == "ping" ? PingOnce(pinger, window) : PingOnRequest(pinger);
    }
    xcb_disconnect(connection);
    return status;
}
