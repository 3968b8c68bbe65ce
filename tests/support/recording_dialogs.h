#pragma once

#include "app/file_dialogs.h"
#include "app/message_box.h"

#include <QList>
#include <QStringList>

#include <deque>
#include <functional>

namespace pellicar::test {

// Message boxes that record what they were asked to show and answer from a
// queue (Ok when the queue is empty). `onShow`, when set, runs while the
// "box is open", as the user's reaction would.
class RecordingMessageBoxes final : public MessageBoxes {
public:
  struct Shown {
    QWidget *owner;
    MessageBoxRequest request;
  };

  MsgResult Show(QWidget *owner, const MessageBoxRequest &request) override {
    shown.append({owner, request});
    if (onShow)
      onShow(request);
    if (answers.empty())
      return MsgResult::Ok;
    const MsgResult answer = answers.front();
    answers.pop_front();
    return answer;
  }

  QStringList Texts() const {
    QStringList texts;
    for (const Shown &s : shown)
      texts.append(s.request.text);
    return texts;
  }

  QList<Shown> shown;
  std::deque<MsgResult> answers;
  std::function<void(const MessageBoxRequest &)> onShow;
};

// File dialogs (open and save alike) that answer from a queue of file
// names ("" is a cancel; an empty queue cancels too) and record each
// request.
class ScriptedFileDialogs final : public FileDialogs {
public:
  QString OpenFile(QWidget *, const FileDialogRequest &request) override {
    requests.append(request);
    if (nextFiles.empty())
      return {};
    const QString file = nextFiles.front();
    nextFiles.pop_front();
    return file;
  }
  QString SaveFile(QWidget *owner, const FileDialogRequest &request) override {
    return OpenFile(owner, request);
  }

  QList<FileDialogRequest> requests;
  std::deque<QString> nextFiles;
};

} // namespace pellicar::test
