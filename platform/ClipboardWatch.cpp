#include "platform/ClipboardWatch.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

// Qt built for X11, and X11's headers at hand.
#if defined(VARNE_X11_CLIPBOARD) && QT_CONFIG(xcb)
#define ASK_X11_OWNER
#endif

#if defined(ASK_X11_OWNER)
#include <QAbstractNativeEventFilter>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <cstring>
#include <map>
#include <xcb/xcb.h>
#endif

namespace platform {

#if defined(ASK_X11_OWNER)

namespace {

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The MIME type Qt gives a target: the three plain-text targets of X11 are
// all "text/plain" to it, every other target is its own name.
QString FormatOfTarget(const QString& name) {
    if (name == "UTF8_STRING" || name == "STRING" || name == "TEXT")
        return "text/plain";
    return name;
}

} // namespace

// Asks the owner of the X11 clipboard for its TARGETS, the list of formats it
// offers, the way any X11 program does, but without waiting for the answer:
// its SelectionNotify event comes through Qt's event loop. Only the X server
// is waited for (for atom names and the property holding the answer), which
// always answers at once. Each question gets a requestor window of its own,
// so a late answer to an older question is never taken for the newest one.
class ClipboardWatch::OwnerQuery : public QAbstractNativeEventFilter {
  public:
    using Answered = std::function<void(const QStringList&)>;

    OwnerQuery(xcb_connection_t* connection, bool primary, Answered answered)
        : connection(connection), answered(std::move(answered)) {
        clipboard = primary ? xcb_atom_t(XCB_ATOM_PRIMARY) : InternAtom(connection, "CLIPBOARD");
        targets = InternAtom(connection, "TARGETS");
        incremental = InternAtom(connection, "INCR");
        property =
            InternAtom(connection, primary ? "_VARNE_PRIMARY_TARGETS" : "_VARNE_CLIPBOARD_TARGETS");
        root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const char* xfixes = "XFIXES";
        xcb_query_extension_reply_t* extension = xcb_query_extension_reply(
            connection, xcb_query_extension(connection, uint16_t(std::strlen(xfixes)), xfixes),
            nullptr);
        changesReported = extension && extension->present;
        std::free(extension);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    ~OwnerQuery() override {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        DropRequestor();
        xcb_flush(connection);
    }

    // Whether the X server tells Qt, and so the watch, of every new owner.
    bool ChangesReported() const { return changesReported; }

    void Ask() {
        DropRequestor();
        requestor = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, requestor, root, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_convert_selection(connection, requestor, clipboard, targets, property,
                              XCB_CURRENT_TIME);
        xcb_flush(connection);
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
            return false;
        auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event);
        // Qt takes the answers to its own questions off the queue while it
        // waits for them, so an answer about the clipboard's targets on our
        // property, or a refusal, is one to us (or one Qt gave up waiting
        // for, which it would only read the time from).
        if (notify->selection != clipboard || notify->target != targets ||
            (notify->property != property && notify->property != XCB_ATOM_NONE))
            return false;
        if (requestor == XCB_NONE || notify->requestor != requestor)
            return true; // a late answer to an older question
        // No owner, or one that refused: the X server or the owner answers
        // with no property.
        const QStringList offered =
            notify->property == XCB_ATOM_NONE ? QStringList() : ReadTargets();
        DropRequestor();
        answered(offered);
        return true;
    }

  private:
    void DropRequestor() {
        if (requestor != XCB_NONE)
            xcb_destroy_window(connection, requestor);
        requestor = XCB_NONE;
    }

    // The answer the owner left on our window, as MIME types.
    QStringList ReadTargets() {
        const xcb_get_property_cookie_t cookie = xcb_get_property(
            connection, 1, requestor, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
        QStringList offered;
        // A list of targets long enough to need X11's incremental transfer is
        // not worth following: nothing is offered then.
        if (reply && reply->format == 32 && reply->type != incremental) {
            const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
            const int count = xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t));
            for (int i = 0; i < count; ++i) {
                const QString format = FormatOfTarget(AtomName(atoms[i]));
                if (!format.isEmpty() && !offered.contains(format))
                    offered << format;
            }
        }
        std::free(reply);
        return offered;
    }

    QString AtomName(xcb_atom_t atom) {
        if (atom == XCB_ATOM_NONE)
            return QString();
        auto known = names.find(atom);
        if (known != names.end())
            return known->second;
        xcb_get_atom_name_reply_t* reply =
            xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr);
        QString name;
        if (reply)
            name = QString::fromLatin1(xcb_get_atom_name_name(reply),
                                       xcb_get_atom_name_name_length(reply));
        std::free(reply);
        names[atom] = name;
        return name;
    }

    xcb_connection_t* connection;
    Answered answered;
    xcb_atom_t clipboard, targets, incremental, property;
    xcb_window_t root;
    xcb_window_t requestor = XCB_NONE;
    bool changesReported;
    std::map<xcb_atom_t, QString> names; // atoms never change their names
};

#else

// Built without X11's headers. Wayland, and Qt's other platforms, list another
// program's formats from what they were told when the clipboard changed,
// without asking that program again.
class ClipboardWatch::OwnerQuery {
  public:
    void Ask() {}
};

#endif

ClipboardWatch::ClipboardWatch(std::function<void()> changed, bool selection)
    : changed(std::move(changed)), selection(selection) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (selection && !clipboard->supportsSelection())
        return;
    connect(clipboard, selection ? &QClipboard::selectionChanged : &QClipboard::dataChanged, this,
            [this] { Ask(true); });
#if defined(ASK_X11_OWNER)
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 && x11->connection()) {
        ownerQuery = std::make_unique<OwnerQuery>(
            x11->connection(), selection, [this](const QStringList& offered) { Offered(offered); });
        // Without the extension that reports clipboard changes Qt cannot say
        // when another program copies; asking again when Varne comes to the
        // front keeps the answer right for what the user did meanwhile.
        if (!ownerQuery->ChangesReported())
            connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                    [this](Qt::ApplicationState state) {
                        if (state == Qt::ApplicationActive)
                            Ask(false);
                    });
    }
#endif
    Ask(true);
}

ClipboardWatch::~ClipboardWatch() = default;

// Our own data and every platform but X11 answer without the owner's help;
// on X11 another program's formats arrive later through the owner query.
void ClipboardWatch::Ask(bool clipboardChanged) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    const bool ours = selection ? clipboard->ownsSelection() : clipboard->ownsClipboard();
    if (ownerQuery && !ours) {
        if (clipboardChanged)
            Offered(QStringList());
        ownerQuery->Ask();
        return;
    }
    const QMimeData* data =
        clipboard->mimeData(selection ? QClipboard::Selection : QClipboard::Clipboard);
    Offered(data ? data->formats() : QStringList());
}

void ClipboardWatch::Offered(const QStringList& offered) {
    formats = offered;
    if (changed)
        changed();
}

} // namespace platform
