#pragma once

#include "codecs/id3_tag.h"

#include <QDialog>
#include <memory>

namespace Ui {
class frmID3Edit;
}

class TPrompter;

// Edits the ID3v1 tag of one MP3 file at a time. The caption names the file the
// window works on once one has been loaded or saved as; Save Tag and Remove Tag
// work on that file and are enabled only then. Pickers and messages go through
// the prompter.
//
// Threads: user-interface thread only.
class TfrmID3Edit final : public QDialog {
    Q_OBJECT

public:
    explicit TfrmID3Edit(TPrompter& prompter, QWidget* parent = nullptr);
    ~TfrmID3Edit() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void LoadTag();
    void SaveTag();
    void SaveAs();
    void RemoveTag();
    // Enables both actions exactly when the caption names a file.
    void UpdateActions();

    // An existing MP3 file chosen by the user; empty when cancelled.
    QString PickFile(const QString& command);
    void SetCurrentFile(const QString& path);
    void ShowCaption();
    void FillTag();
    void ShowFields(const Tid3tag& tag);
    void ClearFields();
    // Forgets what the tag held, as for a file that has none.
    void ForgetTag();
    // The fields as the file now holds them: a text the tag cannot hold whole
    // shows cut as it was stored.
    void ShowStored();
    void ShowSaveError(const QString& path);

    std::unique_ptr<Ui::frmID3Edit> ui;
    TPrompter& Prompter;
    Tid3tag Tag;
    // The file the caption names; empty until a load or a Save As.
    QString CurrentFile;
};
