/* The children of the benchmark, Setup.exe and Chipburn.exe on both
 * platforms: a program that ends as soon as it starts, so that what is
 * timed is the launcher and not what it runs. */
int main(void)
{
    return 0;
}
