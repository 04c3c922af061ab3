#include "common/protectedstore.h"

// The modes arrive with the service program; until then every command line is malformed.
int main()
{
    return 87;
}
