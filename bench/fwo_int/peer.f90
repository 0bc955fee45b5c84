! WRITE (u, '(10I12)') of INTEGER(4) values, ten a record.
program fwo_int
  implicit none
  character(len=256) :: path, arg
  integer :: n, i, j, u
  integer :: k(10)
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  read (arg, *) n
  open (newunit=u, file=trim(path), status='replace')
  do i = 1, n / 10
    do j = 1, 10
      k(j) = i * 7 + j - 500000
    end do
    write (u, '(10I12)') k
  end do
  close (u)
end program
