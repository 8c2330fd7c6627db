#include "app/playerapp.h"

int main(int argc, char **argv) {
    vt::app::CPlayerApp app(argc, argv);
    return app.Run();
}
