#include "app/SessionEnd.h"

#include "app/Form1.h"
#include "preview/Form2.h"

namespace shell {

void closeVisibleWindow(Form1 &window)
{
    if (window.form2Loaded() && window.form2().isVisible())
        window.form2().close();
    else
        window.close();
}

} // namespace shell
