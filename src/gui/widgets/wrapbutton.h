#pragma once

#include <QPushButton>

namespace vortan
{

// A push button whose caption wraps over several lines, as the windows' two-line buttons were
// drawn; text() keeps the caption exactly as given.
class WrapButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace vortan
