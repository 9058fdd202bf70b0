// The editing component's window: QScintilla's widget under a name of our own,
// so that the program chooses how screen readers see it (EditorAccessible.h).
#pragma once

#include <Qsci/qsciscintillabase.h>
#include <memory>
#include <string>

class AccessibilityNotifier;

class EditorWindow : public QsciScintillaBase {
    Q_OBJECT

  public:
    explicit EditorWindow(QWidget* parent = nullptr);
    ~EditorWindow() override;

    // The component's change notifications the program asks for. This is the
    // one place that decides them; ApplyModificationEventMask() sends them
    // again whenever what they depend on changes.
    int ModificationEventMask() const;
    void ApplyModificationEventMask();

    // What screen readers are told about the editor.
    AccessibilityNotifier& Accessibility() const { return *accessibility; }

    // Screen readers hear of everything done while one of these lives, such
    // as loading a file, as one text update. Does nothing for a null editor.
    class BulkChange {
      public:
        explicit BulkChange(EditorWindow* editor);
        ~BulkChange();
        BulkChange(const BulkChange&) = delete;
        BulkChange& operator=(const BulkChange&) = delete;

      private:
        EditorWindow* editor;
    };

    // The document's path (bytes), given to screen readers as the editor's
    // description; empty for an untitled document.
    void SetDocumentName(const std::string& path);

    // Whether a paste would insert anything. QScintilla's own answer to
    // SCI_CANPASTE does not look at the clipboard.
    bool CanPaste() const;

  private:
    std::unique_ptr<AccessibilityNotifier> accessibility;
};
