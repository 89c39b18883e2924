#include "MyApp.h"

wxIMPLEMENT_APP(MyApp);
