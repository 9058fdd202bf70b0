// A session manager just large enough to log one client out, for the smoke
// test of logging out: session-manager ADDRESS-FILE. It writes the value for
// SESSION_MANAGER to ADDRESS-FILE, accepts a client, and on each SIGUSR1 asks
// it to save before a shutdown (interaction allowed). What happens is printed
// on stdout, one line an event: registered, interact, done cancel=0|1, closed.
// A shutdown the client did not cancel ends with Die, as a real logout does.
#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

int wakeUp[2];
SmsConn client = nullptr;
IceConn clientIce = nullptr;
bool cancelled = false;
bool closed = false;

void Say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void LogoutRequested(int) {
    (void)!::write(wakeUp[1], "x", 1);
}

Bool AllowLocalClients(char*) {
    return True;
}

Status RegisterClient(SmsConn conn, SmPointer, char*) {
    char* id = SmsGenerateClientID(conn);
    const Status status = SmsRegisterClientReply(conn, id);
    std::free(id);
    Say("registered");
    return status;
}

void InteractRequest(SmsConn conn, SmPointer, int) {
    SmsInteract(conn);
    Say("interact");
}

void InteractDone(SmsConn, SmPointer, Bool cancelShutdown) {
    cancelled = cancelShutdown;
    Say(cancelShutdown ? "done cancel=1" : "done cancel=0");
}

void SaveYourselfDone(SmsConn conn, SmPointer, Bool) {
    if (cancelled)
        SmsShutdownCancelled(conn);
    else
        SmsDie(conn);
}

void CloseConnection(SmsConn conn, SmPointer, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    SmsCleanUp(conn);
    closed = true;
}

void SetProperties(SmsConn, SmPointer, int count, SmProp** properties) {
    for (int i = 0; i < count; ++i)
        SmFreeProperty(properties[i]);
    std::free(properties);
}

void DeleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i)
        std::free(names[i]);
    std::free(names);
}

void GetProperties(SmsConn conn, SmPointer) {
    SmsReturnProperties(conn, 0, nullptr);
}

void SaveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}
void SaveYourselfPhase2Request(SmsConn conn, SmPointer) {
    SmsSaveYourselfPhase2(conn);
}

Status NewClient(SmsConn conn, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**) {
    client = conn;
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    callbacks->register_client.callback = RegisterClient;
    callbacks->interact_request.callback = InteractRequest;
    callbacks->interact_done.callback = InteractDone;
    callbacks->save_yourself_request.callback = SaveYourselfRequest;
    callbacks->save_yourself_phase2_request.callback = SaveYourselfPhase2Request;
    callbacks->save_yourself_done.callback = SaveYourselfDone;
    callbacks->close_connection.callback = CloseConnection;
    callbacks->set_properties.callback = SetProperties;
    callbacks->delete_properties.callback = DeleteProperties;
    callbacks->get_properties.callback = GetProperties;
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2)
        return 2;
    char error[256];
    if (!SmsInitialize("varne-test", "1", NewClient, nullptr, AllowLocalClients, sizeof error,
                       error))
        return 1;
    int count;
    IceListenObj* listeners;
    if (!IceListenForConnections(&count, &listeners, sizeof error, error))
        return 1;
    for (int i = 0; i < count; ++i)
        IceSetHostBasedAuthProc(listeners[i], AllowLocalClients);
    if (::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    std::signal(SIGUSR1, LogoutRequested);

    char* address = IceComposeNetworkIdList(count, listeners);
    FILE* file = std::fopen(argv[1], "w");
    if (!file)
        return 1;
    std::fprintf(file, "%s", address);
    std::fclose(file);
    std::free(address);

    while (!closed) {
        std::vector<pollfd> watched;
        for (int i = 0; i < count; ++i)
            watched.push_back({IceGetListenConnectionNumber(listeners[i]), POLLIN, 0});
        watched.push_back({wakeUp[0], POLLIN, 0});
        if (clientIce)
            watched.push_back({IceConnectionNumber(clientIce), POLLIN, 0});
        if (::poll(watched.data(), watched.size(), -1) < 0)
            continue;
        for (int i = 0; i < count; ++i) {
            if (!(watched[size_t(i)].revents & POLLIN))
                continue;
            IceAcceptStatus accepted;
            clientIce = IceAcceptConnection(listeners[i], &accepted);
        }
        char byte;
        if (watched[size_t(count)].revents & POLLIN && ::read(wakeUp[0], &byte, 1) == 1 && client) {
            cancelled = false;
            SmsSaveYourself(client, SmSaveBoth, True, SmInteractStyleAny, False);
        }
        if (clientIce && watched.size() > size_t(count) + 1 && watched.back().revents) {
            const IceProcessMessagesStatus status = IceProcessMessages(clientIce, nullptr, nullptr);
            if (status != IceProcessMessagesSuccess) {
                IceSetShutdownNegotiation(clientIce, False);
                IceCloseConnection(clientIce);
                closed = true;
            }
        }
    }
    Say("closed");
    return 0;
}
