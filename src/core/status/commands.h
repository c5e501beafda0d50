#pragma once

#include <QString>
#include <QtGlobal>

namespace vortan
{

// One operator command button (cmd_btn): its caption, the tag the window sends through
// EnqueueCommand, and the word that tag gives in the command register 4001.
struct CommandButton {
    const char *caption; // UTF-8
    const char *tag;
    quint16 word;
};

// The buttons by member index; the window lays them out, the event journal names the commands
// it sees on the line by them. The controller's priority acknowledgement is the word of
// button 2.
inline constexpr CommandButton CommandButtons[] = {
    {"Сброс аварий", "&HCBD0", 0xCBD0},
    {"Уст. высший приоритет", "&HF1A5", 0xF1A5},
    {"Уст. пр. завершена", "&HAD5E", 0xAD5E},
};
inline constexpr int CommandButtonCount = int(sizeof CommandButtons / sizeof CommandButtons[0]);

// Caption of the button that sends `word`; for a word no button sends, "Команда 0x1234".
QString CommandCaption(quint16 word);

} // namespace vortan
