! Strided array sections and 2-D sections in output and input lists.
program sections_io
  implicit none
  integer :: a(10), m(4, 4), i, j
  character(len=8) :: buf = '  91  92'
  a = [(i, i = 1, 10)]
  do j = 1, 4
    do i = 1, 4
      m(i, j) = i + 10 * j
    end do
  end do
  write (*, '(10i3)') a(10:1:-3)
  write (*, '(10i4)') m(2:4:2, 1:3)
  write (*, '(10i4)') m(3, :)
  read (buf, '(2i4)') a(2:4:2)
  write (*, '(10i3)') a
end program sections_io
