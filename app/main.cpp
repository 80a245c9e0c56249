#include "COdomiraApp.h"

int main(int argc, char** argv)
{
    return COdomiraApp::Main(argc, argv);
}
