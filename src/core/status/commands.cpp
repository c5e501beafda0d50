#include "status/commands.h"

#include "format/formatting.h"
#include "modbus/frames.h"

namespace vortan
{

static_assert(CommandButtons[2].word == PriorityDoneWord,
              "the priority acknowledgement is the third button's word");

QString CommandCaption(quint16 word)
{
    for (const CommandButton &b : CommandButtons) {
        if (b.word == word)
            return QString::fromUtf8(b.caption);
    }
    return QStringLiteral("Команда 0x") + HexPadded(word, 4);
}

} // namespace vortan
