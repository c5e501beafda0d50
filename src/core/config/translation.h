#pragma once

namespace vortan
{

// Qt's own texts (the standard buttons "Отмена", "Повторить", the --help headings) in Russian,
// for the running application and as long as it lives. False when the package with Qt's
// translations is not installed; the texts then stay English.
bool installQtTranslation();

} // namespace vortan
