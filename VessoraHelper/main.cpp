// VessoraHelper: the root helper that keeps each user's hosts section and
// relays ports 80 and 443 for the Vessora application.
#include "VessoraHelper/HelperMain.hpp"

int main() {
    return vessora::HelperMain::run(vessora::HelperSettings::installed());
}
