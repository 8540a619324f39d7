"""pravikctl's tool commands against simulated devices."""
import clibench


class ToolsTest(clibench.BenchTest):
    pass


if __name__ == "__main__":
    clibench.main()
