/* A statically linked program, which hornemu must refuse to run. */
int main(void) {
    return 0;
}
