// blockeig: direct and block Rayleigh-Ritz eigen-solution of a symmetric
// matrix read from A.SCR.
int main() { return 0; }
